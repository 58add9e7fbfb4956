#pragma once

#include "clsfileini.h"
#include "countsetting.h"
#include "formtimer.h"
#include "frmtesmora.h"
#include "httpserver.h"
#include "kiosklog.h"
#include "kioskpage.h"
#include "kiosksettings.h"
#include "navigator.h"
#include "tempfolder.h"
#include "testclock.h"

#include <QLabel>
#include <QTest>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// A program folder of the kiosk's own and a clock that moves only when told.
class KioskFolder : public ::testing::Test
{
protected:
    void writeSettings(const std::string &content) { writeFile(dir / "tesmora.ini", content); }
    std::string kioskLog() const { return readFile(dir / ("tesmora." + monthStamp(clock.localNow()) + ".log")); }
    // Lets the event loop run until the server has had the path asked for count times.
    static bool requested(const TestHttpServer &server, const std::string &path, size_t count = 1, int ms = 30000)
    {
        return QTest::qWaitFor([&] { return server.requestCount(path) >= count; }, ms);
    }
    // The value of a script run in the page; invalid when no answer came within 10 seconds.
    static QVariant evaluate(QWebEnginePage *page, const QString &script)
    {
        auto result = std::make_shared<std::optional<QVariant>>();
        page->runJavaScript(script, [result](const QVariant &v) { *result = v; });
        return QTest::qWaitFor([&] { return result->has_value(); }, 10000) ? **result : QVariant();
    }

    TempFolder dir;
    TestClock clock{{2026, 12, 7, 9, 0, 0}};
};

// What the rules asked of the browser, in order: the addresses, and "<own text>" for the kiosk's
// own error text.
class TestNavigator final : public Navigator
{
public:
    void startNewSession() override { ++newSessions; }

    std::vector<std::string> asked;
    int newSessions = 0;

protected:
    void load(const QString &address) override { asked.push_back(address.toStdString()); }
    void showHtml(const QString &) override { asked.emplace_back("<own text>"); }
};

// One of the kiosk's rules in-process: its log, its settings file read as the kiosk reads it,
// and a browser that only notes what it is asked. Timers are made with interval 0: switched on,
// they never fire, and the test gives the ticks.
class RuleFixture : public KioskFolder
{
protected:
    RuleFixture() { ini.setNomeFile((dir / "tesmora.ini").string()); }

    // The settings as start-up reads them from these lines of the two sections.
    KioskSettings readSettings(const std::string &data, const std::string &failure = {})
    {
        writeSettings("[data]\r\n" + data + "shutdown_check_interval=5\r\n[failure]\r\n" + failure);
        const Result<KioskSettings> read = readKioskSettings(dir / "tesmora.ini", ini, counts);
        EXPECT_TRUE(read.ok());
        log.setEventsLogged(read.value.logEvents);
        return read.value;
    }

    KioskLog log{dir.path(), "tesmora", clock};
    clsFileIni ini;
    CountSettingReader counts{ini, log.writer()};
    TestNavigator navigator;
};

// A kiosk window in-process, whose immediate end is counted instead of ending the test process.
class KioskFixture : public KioskFolder
{
protected:
    // Settings with the pages on the given server. Extra lines come first in their section, so
    // that they win over the usual values (the first of duplicate keys counts).
    static std::string settingsFor(const std::string &server, const std::string &extraData = {},
                                   const std::string &extraFailure = {})
    {
        return "[data]\r\n" + extraData + "web_server=" + server
            + "\r\nstart_page=start.html\r\n"
              "admin_page=admin.html\r\nlogout_page=logout.html\r\nshutdown_check_interval=5\r\n"
              "[failure]\r\n"
            + extraFailure + "error_page=" + server + "error.html\r\n";
    }

    std::unique_ptr<frmTesmora> makeWindow()
    {
        KioskEnvironment env{{dir.path(), "tesmora"}, &clock, [this](int) { ++immediateEnds; }};
        return std::make_unique<frmTesmora>(env);
    }

    // A control or timer of the window, by its design name.
    template<typename T = QWidget>
    static T *control(const frmTesmora &w, const char *name)
    {
        T *found = w.findChild<T *>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static FormTimer *timer(const frmTesmora &w, const char *name) { return control<FormTimer>(w, name); }
    static QString status(const frmTesmora &w) { return control<QLabel>(w, "lblStatus")->text(); }
    static QWebEngineView *browserView(const frmTesmora &w) { return control<QWebEngineView>(w, "WebBrowser"); }

    static QVariant evaluate(frmTesmora &w, const QString &script) { return KioskFolder::evaluate(w.page(), script); }

    int immediateEnds = 0;
};
