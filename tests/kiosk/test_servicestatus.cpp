#include "kioskfixture.h"
#include "servicestatus.h"

#include <QSignalSpy>

namespace {

class ServiceStatusTest : public RuleFixture
{
protected:
    ServiceStatus status{log};
    QSignalSpy labels{&status, &ServiceStatus::labelChanged};
    QSignalSpy choices{&status, &ServiceStatus::choicesChanged};
    QSignalSpy changes{&status, &ServiceStatus::changed};
    QSignalSpy applied{&status, &ServiceStatus::statusApplied};
};

TEST_F(ServiceStatusTest, ChangeStatusForEveryCode)
{
    status.change(ServiceStatus::Pause);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.last()[0].toString(), "Service pause");
    EXPECT_EQ(choices.last(), (QList<QVariant>{true, false})) << "play can be clicked, pause cannot";

    status.change(ServiceStatus::Play);
    EXPECT_EQ(labels.last()[0].toString(), "Service play");
    EXPECT_EQ(choices.last(), (QList<QVariant>{false, true}));

    status.change(ServiceStatus::Error);
    EXPECT_EQ(labels.size(), 2) << "error leaves the text";
    EXPECT_EQ(choices.last(), (QList<QVariant>{false, false}));
    for (const int16_t other : {0, 5, -1})
        status.change(other);
    status.change(ServiceStatus::Stop);
    EXPECT_EQ(choices.size(), 3) << "stop changes no control";
    ASSERT_EQ(changes.size(), 4) << "only the four codes are passed on";
    EXPECT_EQ(changes[3][0].value<int16_t>(), ServiceStatus::Stop);
    EXPECT_EQ(status.applied(), ServiceStatus::Stop);
}

TEST_F(ServiceStatusTest, TheEventLogAndTheMetricsSeeEachNewStatusButNotThePauseOnTheWayToError)
{
    log.setEventsLogged(true);
    status.change(ServiceStatus::Play);
    status.change(ServiceStatus::Play);
    status.changeToErrorThroughPause();
    EXPECT_EQ(labels.last()[0].toString(), "Service pause") << "the label shows the pause all the same";
    status.change(ServiceStatus::Pause);
    status.change(ServiceStatus::Stop);
    const std::string t = "07/12/2026 09:00:00 - Stato del servizio: ";
    EXPECT_EQ(kioskLog(), t + "play\r\n" + t + "error\r\n" + t + "pause\r\n" + t + "stop\r\n");
    EXPECT_EQ(applied.size(), 4);
    EXPECT_EQ(changes.size(), 6);
}

} // namespace
