#include "httpserver.h"
#include "kioskfixture.h"

#include <QCursor>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {

// The whole window, shown, with real clicks on its controls, its pages from a real server.
class OperatorControls : public KioskFixture
{
protected:
    void SetUp() override
    {
        for (const char *page : {"/start.html", "/admin.html", "/logout.html"})
            server.serve(page, "<html><body>page</body></html>", 200, "text/html");
        writeSettings(settingsFor(server.baseUrl()));
        w = makeWindow();
        w->Form_Load();
        w->show(); // clicks reach only shown, enabled controls
    }

    void click(const char *name)
    {
        QWidget *area = control(*w, name);
        QTest::mouseClick(area, Qt::LeftButton, {}, area->rect().center());
    }
    bool panelShown() const { return control(*w, "pitAdmin")->isVisible(); }

    TestHttpServer server;
    std::unique_ptr<frmTesmora> w;
};

TEST_F(OperatorControls, BothHiddenCornersOpenThePanelAndOneAloneDoesNot)
{
    for (int i = 0; i < 3; ++i)
        click("lblButton2");
    EXPECT_FALSE(panelShown());
    click("lblButton1");
    EXPECT_TRUE(panelShown());
    EXPECT_TRUE(timer(*w, "tmrUnloadAdmin")->isEnabled()) << "it hides again in 5 seconds";
}

TEST_F(OperatorControls, ThePanelStaysAfterPlayAndInTheErrorStatusOnlyStopAnswers)
{
    click("lblButton1");
    click("lblButton2");
    click("lblPause");
    EXPECT_EQ(status(*w), "Service pause");
    click("lblPause");
    EXPECT_EQ(status(*w), "Service pause") << "pause is disabled while paused";
    click("lblPlay");
    EXPECT_EQ(status(*w), "Service play");
    EXPECT_FALSE(timer(*w, "tmrUnloadAdmin")->isEnabled()) << "play holds the panel";
    EXPECT_TRUE(panelShown());

    server.serve("/start.html", "<html><body>gone</body></html>", 503, "text/html");
    click("cmdTesmora");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !control(*w, "lblPause")->isEnabled(); }, 30000));
    click("lblPlay");
    click("lblPause");
    EXPECT_FALSE(control(*w, "lblPlay")->isEnabled());
    EXPECT_EQ(immediateEnds, 0);
    click("lblStop");
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "tesmora.lck")) << "stop ends through the unload handler";
}

TEST_F(OperatorControls, ButtonsLoadTheirPagesAndOnlyTheStartButtonParksThePointer)
{
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    QCursor::setPos(10, 10);
    const bool pointerMoves = QCursor::pos() == QPoint(10, 10); // not on every platform
    click("cmdAdminPannel");
    click("cmdLogOut");
    const QPoint afterOtherButtons = QCursor::pos();
    click("cmdTesmora");
    if (pointerMoves) {
        EXPECT_EQ(afterOtherButtons, QPoint(10, 10));
        EXPECT_EQ(QCursor::pos(), QGuiApplication::primaryScreen()->geometry().bottomRight());
    }
    std::vector<std::string> asked;
    for (const auto &request : requests)
        asked.push_back(request[0].toString().toStdString());
    EXPECT_EQ(asked,
              (std::vector<std::string>{server.baseUrl() + "admin.html", server.baseUrl() + "logout.html",
                                        server.baseUrl() + "start.html"}));
    EXPECT_TRUE(requested(server, "/start.html")) << "the last one asked for is loaded";
    EXPECT_EQ(status(*w), "Service play") << "buttons change no status";
}

TEST_F(OperatorControls, TheRefreshBoxesStartAndStopTheBar)
{
    QWidget *fill = control(*w, "shpRiempimento");
    click("ptcRefresh");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fill->width() > 0; }, 5000)) << "a step a second";
    click("ptcStop");
    const int stoppedAt = fill->width();
    QTest::qWait(1500);
    EXPECT_EQ(fill->width(), stoppedAt);
}

TEST_F(OperatorControls, CloseEndsAtOnceKeepingTheLockFile)
{
    writeFile(dir / "Shutdown.txt", "x\r\n");
    click("cmdClose");
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "tesmora.lck"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Shutdown.txt")) << "no unload handler ran";
}

} // namespace
