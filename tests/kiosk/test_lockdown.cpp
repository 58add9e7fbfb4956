#include "httpserver.h"
#include "kioskfixture.h"
#include "kioskpage.h"
#include "pagedialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineView>
#include <QWindow>

namespace {

using Lockdown = KioskFixture;

// A file input, a colour input, and a button that tries everything a page may ask of the machine
// or the visitor.
const char *const TrialPage = R"(<!DOCTYPE html><html><body style="margin:0">
<input type="file" id="file" style="position:absolute;left:10px;top:10px;width:200px;height:40px">
<button id="try" style="position:absolute;left:10px;top:80px;width:200px;height:40px">try</button>
<input type="color" id="colour" style="position:absolute;left:10px;top:150px;width:200px;height:40px">
<script>
window.outcomes = {};
const note = (what, value) => { outcomes[what] = String(value); };
document.getElementById('try').onclick = () => {
  navigator.geolocation.getCurrentPosition(() => note('location', 'given'), e => note('location', e.code));
  Notification.requestPermission().then(p => note('notifications', p));
  navigator.mediaDevices.getDisplayMedia({video: true}).then(() => note('screen', 'given'), e => note('screen', e.name));
  document.documentElement.requestFullscreen().then(() => note('fullscreen', 'given'), e => note('fullscreen', e.name));
  fetch('/private').then(r => note('login', r.status), e => note('login', e.name));
  window.print();
  note('questions', [alert('Avviso'), confirm('Confermi?'), prompt('Nome?', 'Mario')].join('|'));
  window.onbeforeunload = e => { e.preventDefault(); e.returnValue = 'stay'; };
};
</script></body></html>)";

TEST_F(Lockdown, APageAndItsVisitorFindNoWayOutOfTheKiosk)
{
    TestHttpServer server;
    server.serve("/start.html", TrialPage, 200, "text/html");
    server.serve("/private", "private", 401, "text/html", {{"WWW-Authenticate", "Basic realm=\"tesmora\""}});
    writeSettings(settingsFor(server.baseUrl()));
    auto w = makeWindow();
    QSignalSpy loaded(browserView(*w), &QWebEngineView::loadFinished);
    w->start();
    ASSERT_TRUE(loaded.wait(30000));
    QWidget *view = browserView(*w)->focusProxy();

    // Another window that the window system shows is noted and closed, so that a way out fails
    // the test instead of blocking it; the page's questions are answered as they come, while its
    // script waits.
    QStringList otherWindows, asked;
    PageDialog *dialog = w->pageDialog();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top != w.get() && top->windowHandle() && top->windowHandle()->isVisible()) {
                otherWindows << top->metaObject()->className();
                top->close();
            }
        }
        if (!dialog->isVisible() || (!asked.isEmpty() && asked.last() == dialog->message->text()))
            return;
        asked << dialog->message->text();
        if (asked.size() == 3)
            dialog->input->setText(dialog->input->text() + " Rossi");
        (asked.size() == 2 ? dialog->cancel : dialog->ok)->click();
    });
    watch.start(20);

    // The file input, clicked until the engine takes clicks (once it has drawn the page), the
    // colour input, then the button that tries everything else.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QTest::mouseClick(view, Qt::LeftButton, {}, {100, 30});
            return evaluate(*w, "document.activeElement.id").toString() == "file";
        },
        20000));
    QTest::mouseClick(view, Qt::LeftButton, {}, {100, 170});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return evaluate(*w, "document.activeElement.id").toString() == "colour"; }, 10000));
    QTest::mouseClick(view, Qt::LeftButton, {}, {100, 100});
    ASSERT_TRUE(QTest::qWaitFor([&] { return evaluate(*w, "Object.keys(outcomes).length").toInt() == 6; }, 20000))
        << evaluate(*w, "JSON.stringify(outcomes)").toString().toStdString();
    EXPECT_EQ(evaluate(*w, "JSON.stringify(outcomes, Object.keys(outcomes).sort())").toString().toStdString(),
              R"({"fullscreen":"TypeError","location":"1","login":"401","notifications":"denied",)"
              R"("questions":"|false|Mario Rossi","screen":"NotAllowedError"})");
    EXPECT_EQ(evaluate(*w, "document.getElementById('file').files.length").toInt(), 0);

    // The browser's keys and buttons for leaving the window or going back, with a step to go back
    // to; zoom by wheel, touchpad and touch screen; the window system's close, a change of state.
    evaluate(*w, "history.pushState({}, '', '?moved')");
    for (const char *keys : {"F11", "Esc", "Alt+F4", "Ctrl+W", "Ctrl+Q", "Alt+Left", "Back"})
        QTest::keySequence(view, QKeySequence(keys));
    QTest::mouseClick(view, Qt::BackButton, {}, {400, 300});
    const QPointF at(100, 200);
    QWheelEvent wheel(at, view->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(view, &wheel);
    for (const auto type : {Qt::BeginNativeGesture, Qt::ZoomNativeGesture, Qt::EndNativeGesture}) {
        QNativeGestureEvent pinch(type, QPointingDevice::primaryPointingDevice(), 2, at, at, view->mapToGlobal(at), 1.0,
                                  {}, 0);
        QApplication::sendEvent(view, &pinch);
    }
    const std::unique_ptr<QPointingDevice> touchScreen(QTest::createTouchDevice());
    QTest::touchEvent(view, touchScreen.get()).press(0, {100, 200}).press(1, {120, 220});
    for (int step = 1; step <= 10; ++step, QTest::qWait(20))
        QTest::touchEvent(view, touchScreen.get())
            .move(0, {100 - 5 * step, 200 - 5 * step})
            .move(1, {120 + 5 * step, 220 + 5 * step});
    QTest::touchEvent(view, touchScreen.get()).release(0, {50, 150}).release(1, {170, 270});
    QCloseEvent fromWindowSystem;
    QSpontaneKeyEvent::setSpontaneous(&fromWindowSystem);
    QApplication::instance()->notify(w.get(), &fromWindowSystem); // sendEvent would unmark it
    w->showNormal();

    EXPECT_TRUE(QTest::qWaitFor([&] { return w->isFullScreen(); }, 5000));
    EXPECT_EQ(browserView(*w)->url().query(), "moved");
    EXPECT_EQ(evaluate(*w, "visualViewport.scale").toDouble(), 1.0);
    EXPECT_EQ(w->page()->zoomFactor(), 1.0);
    EXPECT_EQ(immediateEnds, 0);

    // The kiosk's own navigation leaves the page although the page objects, asking nobody.
    QTest::mouseClick(control(*w, "cmdLogOut"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount("/logout.html") == 1; }, 20000));
    EXPECT_EQ(asked, (QStringList{"Avviso", "Confermi?", "Nome?"}));
    EXPECT_TRUE(otherWindows.isEmpty()) << otherWindows.join(", ").toStdString();
    std::vector<std::string> reached;
    for (const auto &r : server.requests())
        reached.push_back(r.method + " " + r.path);
    std::erase(reached, "GET /favicon.ico");
    EXPECT_EQ(reached, (std::vector<std::string>{"GET /start.html", "GET /private", "GET /logout.html"}));
}

// Links to other programs in the page and in a frame of it, and a data: frame. Only a desktop's
// window system hands an address on to a program (xdg-open): CTest runs this on a virtual display.
TEST_F(Lockdown, LinksToOtherProgramsStartNothingAndAreLogged)
{
    const std::filesystem::path opener = dir / "bin/xdg-open", opened = dir / "opened";
    std::filesystem::create_directory(dir / "bin");
    writeFile(opener, "#!/bin/sh\necho \"$@\" >> '" + opened.string() + "'\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    qputenv("PATH", QByteArray((dir / "bin:").c_str()) + qgetenv("PATH"));
    TestHttpServer server;
    server.serve("/start.html", R"(<!DOCTYPE html><html><body style="margin:0"><script>
['mailto:mario.rossi@example.org', 'tel:+390612345678', 'smb://archivio/atti', 'tesmora-x:prova'].forEach((to, i) =>
  document.write(`<a href="${to}" style="position:absolute;left:${i * 100}px;width:90px;height:40px">${i}</a>`));
if (window === top)
  document.write('<iframe src="start.html" style="position:absolute;top:100px;width:400px;height:50px;border:0"></iframe>'
                 + '<iframe src="data:,d"></iframe>');
</script></body></html>)",
                 200, "text/html");
    writeSettings(settingsFor(server.baseUrl()));
    auto w = makeWindow();
    QSignalSpy loaded(browserView(*w), &QWebEngineView::loadFinished),
        refused(w->page(), &KioskPage::navigationRefused);
    w->start();
    ASSERT_TRUE(loaded.wait(30000));
    // The data: frame's refusal first: arriving during the clicks it would pass for a link's.
    ASSERT_TRUE(QTest::qWaitFor([&] { return kioskLog().find("verso data:") != std::string::npos; }, 20000));

    // Each link in the page, then in the frame, clicked until it is refused or opened; a click
    // needs its time to act before the next one cuts it short.
    for (int link = 0; link < 8; ++link) {
        const auto before = std::pair(refused.size(), readFile(opened));
        const auto acted = [&] { return std::pair(refused.size(), readFile(opened)) != before; };
        int tries = 0;
        do {
            ASSERT_LT(tries++, 40);
            const QPoint at(link % 4 * 100 + 45, link / 4 * 100 + 20);
            QTest::mouseClick(browserView(*w)->focusProxy(), Qt::LeftButton, {}, at);
        } while (!QTest::qWaitFor(acted, 500));
    }
    std::string lines;
    for (const char *scheme : {"data", "mailto", "tel", "smb", "tesmora-x"})
        lines += "Navigazione rifiutata verso " + std::string(scheme) + ": schema non consentito\r\n";
    EXPECT_EQ(kioskLog(), lines);
    EXPECT_FALSE(QTest::qWaitFor([&] { return std::filesystem::exists(opened); }, 1000)) << readFile(opened);
    EXPECT_EQ(w->lastRequestedAddress().toStdString(), server.baseUrl() + "start.html");
    EXPECT_EQ(evaluate(*w, "location.href").toString().toStdString(), server.baseUrl() + "start.html");
}

} // namespace
