#include "displaypower.h"
#include "formtimer.h"
#include "httpserver.h"
#include "kioskfixture.h"
#include "process.h"
#include "screenschedule.h"

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// Notes what the schedule asks ("off", "on") and answers at once, failing while failing is set.
class RecordingDisplay final : public DisplayPower
{
public:
    void switchTo(bool on) override
    {
        asked.emplace_back(on ? "on" : "off");
        failing ? emit failed(on, QStringLiteral("no dpms")) : emit switched(on);
    }
    Strings asked;
    bool failing = false;
};

class ScreenScheduleTest : public RuleFixture
{
protected:
    void tickAt(int day, int hour, int minute, int second = 0)
    {
        clock.setLocal({2026, 12, day, hour, minute, second});
        schedule.tick();
    }
    Strings asked() { return std::exchange(display.asked, {}); }

    FormTimer timer{0};
    RecordingDisplay display;
    ScreenSchedule schedule{&timer, clock, log};
};

TEST_F(ScreenScheduleTest, OffAtScreenOffAWakingTouchForTheWakeSecondsOnAtScreenOn)
{
    schedule.configure(readSettings("screen_off=22:30\r\nscreen_on=6:0\r\nscreen_wake_seconds=30\r\n"), &display);
    tickAt(7, 22, 29, 59);
    EXPECT_FALSE(schedule.visitorInput()) << "a lit screen's touches are the page's";
    tickAt(7, 22, 30);
    EXPECT_EQ(asked(), Strings{"off"});
    EXPECT_FALSE(schedule.displayOn());

    tickAt(8, 1, 0);
    EXPECT_TRUE(schedule.visitorInput()) << "the waking touch does nothing else";
    EXPECT_EQ(asked(), Strings{"on"});
    tickAt(8, 1, 0, 20);
    EXPECT_FALSE(schedule.visitorInput()) << "and a further one starts the wake seconds again";
    tickAt(8, 1, 0, 49);
    EXPECT_TRUE(asked().empty());
    tickAt(8, 1, 0, 50);
    EXPECT_EQ(asked(), Strings{"off"});

    tickAt(8, 5, 59, 59);
    tickAt(8, 6, 0);
    EXPECT_EQ(asked(), Strings{"on"});
    EXPECT_EQ(kioskLog(),
              "Schermo spento secondo l'orario (screen_off)\r\n"
              "Schermo acceso da un tocco per 30 secondi\r\n"
              "Schermo spento di nuovo dopo 30 secondi senza tocchi\r\n"
              "Schermo acceso secondo l'orario (screen_on)\r\n");
}

TEST_F(ScreenScheduleTest, ASwitchTheSessionCannotDoWritesOneLineAndTheScreenCountsAsOn)
{
    schedule.configure(readSettings("screen_off=0:0\r\nscreen_on=6:30\r\n"), &display);
    display.failing = true;
    for (int s = 0; s < 120; ++s) // a kiosk started inside the span
        tickAt(8, 6, 0, s);
    EXPECT_FALSE(schedule.visitorInput());
    tickAt(8, 6, 30);
    EXPECT_EQ(asked(), Strings{"off"}) << "tried once, not every second, at a touch or at screen_on";
    EXPECT_TRUE(schedule.displayOn());
    EXPECT_EQ(kioskLog(), "Impossibile spegnere lo schermo, resta acceso: no dpms\r\n");
}

TEST_F(ScreenScheduleTest, WithoutTwoUsableTimesNothingIsSwitched)
{
    schedule.configure(readSettings(""), &display);
    EXPECT_EQ(kioskLog(), "");
    schedule.configure(readSettings("screen_off=7:5\r\nscreen_on=24:0\r\n"), &display);
    EXPECT_FALSE(schedule.scheduled());
    EXPECT_FALSE(timer.isEnabled());
    EXPECT_EQ(kioskLog(),
              "Orario dello schermo non valido (screen_off='7:5', screen_on='24:0'): lo schermo resta "
              "acceso\r\n");
    EXPECT_EQ(minuteOfDay("07:05"), 7 * 60 + 5);
    EXPECT_EQ(minuteOfDay("7:-5"), std::nullopt);
}

// The session's tools: stand-ins, alone on the PATH, that note their arguments.
TEST_F(KioskFolder, SessionCommandsFailWhenMissingFailingOrComplaining)
{
    const auto standIn = [&](const std::string &name, const std::string &body) {
        writeFile(dir / name, "#!/bin/sh\necho \"$*\" >> \"" + (dir / "asked.txt").string() + "\"\n" + body);
        chmod((dir / name).c_str(), 0755);
    };
    const auto outcomes = [&](bool cec, const char *variable, std::initializer_list<bool> requests) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), QString::fromStdString(dir.path().string()));
        env.insert(QLatin1String(variable), QStringLiteral("x"));
        CommandDisplayPower display(CommandDisplayPower::forSession(cec, env, QStringLiteral("HDMI-A-1")), env);
        Strings seen;
        QObject::connect(&display, &DisplayPower::switched, [&](bool on) { seen.emplace_back(on ? "on" : "off"); });
        QObject::connect(&display, &DisplayPower::failed,
                         [&](bool, const QString &why) { seen.push_back(why.toStdString()); });
        for (const bool on : requests)
            display.switchTo(on);
        EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() == requests.size(); }, 20000));
        return seen;
    };
    standIn("xset", "[ \"$3\" = off ] && echo 'server does not have extension for dpms option' >&2\nexit 0\n");
    standIn("wlr-randr", "exit 1\n");
    standIn("cec-ctl", "exit 0\n");
    EXPECT_EQ(outcomes(false, "DISPLAY", {false, true}),
              (Strings{"xset dpms force off: server does not have extension for dpms option", "on"}));
    EXPECT_EQ(outcomes(false, "WAYLAND_DISPLAY", {false}),
              Strings{"wlr-randr --output HDMI-A-1 --off: codice di uscita 1"});
    EXPECT_EQ(outcomes(true, "DISPLAY", {false, true}), (Strings{"off", "on"}));
    EXPECT_EQ(readFile(dir / "asked.txt"),
              "dpms force off\ndpms force on -dpms\n--output HDMI-A-1 --off\n"
              "--playback --to 0 --standby\n--playback --to 0 --image-view-on\n");
    std::filesystem::remove(dir / "xset");
    EXPECT_EQ(outcomes(false, "DISPLAY", {false}), Strings{"xset dpms force off: programma non trovato nel PATH"});
}

// The real kiosk under X11, started inside the span, with a stand-in xset first on its PATH.
TEST(ScreenScheduleProcess, AKioskStartedInsideTheSpanSwitchesTheScreenOffWithTheSessionsTool)
{
    TempFolder dir;
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    const auto program = installProgram("tesmora", dir.path());
    std::filesystem::create_directory(dir / "tools");
    writeFile(dir / "tools/xset", "#!/bin/sh\necho \"$*\" >> \"" + (dir / "asked.txt").string() + "\"\n");
    chmod((dir / "tools/xset").c_str(), 0755);
    const LocalDateTime now = SystemClock().localNow();
    const auto shown = [&](int minutes) {
        const int m = (now.hour * 60 + now.minute + minutes + 1440) % 1440;
        return std::to_string(m / 60) + ":" + std::to_string(m % 60);
    };
    writeFile(dir / "tesmora.ini",
              "[data]\r\nweb_server=" + server.baseUrl()
                  + "\r\nstart_page=start.html\r\nshutdown_check_interval=2\r\nscreen_off=" + shown(-1)
                  + "\r\nscreen_on=" + shown(2) + "\r\nmetrics_file=tesmora.prom\r\n");
    auto env = headlessEnvironment();
    env["DISPLAY"] = ":97";
    env["PATH"] = (dir / "tools").string() + ":" + std::getenv("PATH");

    ChildProcess kiosk(program, dir.path(), env, dir / "output.txt");
    ASSERT_TRUE(waitUntil([&] { return readFile(dir / "asked.txt") == "dpms force off\n"; }, 30s))
        << readFile(dir / "asked.txt") << readFile(dir / "output.txt");
    const auto log = dir / ("tesmora." + monthStamp(now) + ".log");
    EXPECT_TRUE(waitUntil([&] { return readFile(log) == "Schermo spento secondo l'orario (screen_off)\r\n"; }, 30s))
        << readFile(log);
    EXPECT_TRUE(waitUntil(
        [&] { return readFile(dir / "tesmora.prom").find("\ntesmora_kiosk_display_on 0\n") != std::string::npos; },
        30s));
}

} // namespace
