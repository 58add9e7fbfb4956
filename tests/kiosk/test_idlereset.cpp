#include "formtimer.h"
#include "idlereset.h"
#include "kioskfixture.h"
#include "kiosksettings.h"
#include "pagedialog.h"
#include "serverlist.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

namespace {

class IdleResetTest : public RuleFixture
{
protected:
    void start(int16_t seconds)
    {
        KioskSettings settings;
        settings.serverList = "http://kiosk.invalid/";
        settings.startPage = "start.html";
        settings.idleReset = seconds;
        servers.configure(settings);
        reset.configure(settings);
    }
    // A key anywhere in the application, as a visitor's touch, click or wheel.
    void visitorTouches()
    {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(&dialog, &key);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            reset.tick();
    }

    FormTimer timer{0};
    PageDialog dialog{nullptr};
    ServerList servers;
    bool busy = false;
    IdleReset reset{&timer, navigator, dialog, servers, log, [this] { return busy; }};
};

TEST_F(IdleResetTest, TheSessionIsResetOnceAfterAVisitorAndNeverWhileTheKioskIsBusy)
{
    start(3);
    EXPECT_TRUE(timer.isEnabled());
    ticks(10);
    EXPECT_EQ(kioskLog(), "") << "nobody has touched the screen";
    visitorTouches();
    busy = true; // the panel or the error countdown
    ticks(5);
    busy = false;
    ticks(2);
    EXPECT_EQ(kioskLog(), "");
    ticks(1);
    EXPECT_EQ(kioskLog(), "Sessione azzerata dopo 3 secondi di inattività\r\n");
    EXPECT_EQ(navigator.newSessions, 1);
    EXPECT_EQ(navigator.asked, (std::vector<std::string>{"http://kiosk.invalid/start.html"}));
    ticks(10);
    EXPECT_EQ(navigator.newSessions, 1) << "once per visitor";
    EXPECT_EQ(reset.idleSeconds(), -1);
}

TEST_F(IdleResetTest, AWaitingQuestionIsAnsweredAnnullaAndRefusedUntilTheResetASecondLater)
{
    start(2);
    visitorTouches();
    ticks(1);
    // The second passes while a page's question waits, inside the page's own call.
    QTimer::singleShot(0, &dialog, [&] { ticks(1); });
    EXPECT_FALSE(dialog.ask(PageDialog::Kind::Confirm, QStringLiteral("Ancora lì?")));
    EXPECT_EQ(navigator.newSessions, 0) << "the page may go only once its question has returned";
    bool leftWaiting = false;
    QTimer::singleShot(2000, &dialog, [&] {
        leftWaiting = true;
        dialog.dismiss();
    });
    EXPECT_FALSE(dialog.ask(PageDialog::Kind::Alert, QStringLiteral("Sessione in scadenza")));
    EXPECT_FALSE(leftWaiting) << "asking again at once cannot hold the reset off";

    ticks(1);
    EXPECT_EQ(navigator.newSessions, 1);
    QTimer::singleShot(0, &dialog, [&] { dialog.ok->click(); });
    EXPECT_TRUE(dialog.ask(PageDialog::Kind::Alert, QStringLiteral("Benvenuto"))) << "the new session asks again";
}

TEST_F(IdleResetTest, WithoutTheSettingNothingIsWatched)
{
    start(0);
    visitorTouches();
    ticks(100);
    EXPECT_FALSE(timer.isEnabled());
    EXPECT_EQ(reset.idleSeconds(), -1);
}

} // namespace
