#include "kioskfixture.h"
#include "kiosksettings.h"
#include "shutdownrequest.h"

#include <QSignalSpy>

namespace {

class ShutdownRequestTest : public RuleFixture
{
protected:
    // The interval as start-up reads it, then the look as the kiosk's timer ticks.
    void start(const std::string &interval)
    {
        request.configure(readSettings("shutdown_check_interval=" + interval + "\r\n"));
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            request.tick();
    }

    ShutdownRequest request{dir / "Shutdown.txt", counts};
    QSignalSpy ends{&request, &ShutdownRequest::requested};
};

TEST_F(ShutdownRequestTest, TheRequestIsLookedForEveryIntervalAndFoundAtTheNextLook)
{
    start("3");
    ticks(3);
    EXPECT_EQ(request.countdown(), 3) << "no request: a new count";
    writeFile(dir / "Shutdown.txt", "07/12/2026 09:00:03\r\n");
    ticks(2);
    EXPECT_EQ(ends.size(), 0) << "found only at the next look";
    ticks(1);
    EXPECT_EQ(ends.size(), 1);
}

TEST_F(ShutdownRequestTest, AChangedIntervalCountsFromTheNextLookAndABadOneFallsBackWithOneLine)
{
    start("2");
    writeSettings("[data]\r\nshutdown_check_interval=4\r\n");
    ticks(1);
    EXPECT_EQ(request.countdown(), 1) << "the running count is not touched";
    ticks(1);
    EXPECT_EQ(request.countdown(), 4);
    writeSettings("[data]\r\nweb_server=http://kiosk.invalid/\r\n");
    ticks(4);
    EXPECT_EQ(request.countdown(), 5) << "a missing interval falls back";
    EXPECT_EQ(kioskLog(), "Valore non valido per shutdown_check_interval: '', uso il valore 5\r\n");
}

TEST_F(ShutdownRequestTest, ARequestLeftFromBeforeStartIsFoundAtTheFirstLook)
{
    writeFile(dir / "Shutdown.txt", "old\r\n");
    start("2");
    ticks(1);
    EXPECT_EQ(ends.size(), 0);
    ticks(1);
    EXPECT_EQ(ends.size(), 1);
}

} // namespace
