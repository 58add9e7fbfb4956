#include "formtimer.h"
#include "inputwatch.h"
#include "kioskfixture.h"
#include "screenshots.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>

namespace {

using namespace std::chrono_literals;
using ScreenShotsTest = RuleFixture;

TEST_F(ScreenShotsTest, APictureReplacesTheFileWholeOnlyWhileNobodyTouchesTheScreen)
{
    // Wider than a picture may be: red above, blue below.
    QWidget window;
    window.resize(2000, 1000);
    auto *upper = new QWidget(&window);
    upper->setGeometry(0, 0, 2000, 500);
    window.setStyleSheet(QStringLiteral("background: blue"));
    upper->setStyleSheet(QStringLiteral("background: red"));
    for (QWidget *w : {&window, upper})
        w->setAttribute(Qt::WA_StyledBackground);
    FormTimer timer{0};
    InputWatch input{clock};
    ScreenShots shots{&timer, &window, dir.path(), input, log, clock};
    const auto seconds = [&](int n) {
        for (int i = 0; i < n; ++i) {
            clock.advance(1s);
            shots.tick();
        }
    };

    shots.configure(readSettings("screenshot_file=shots/screen.PNG\r\nscreenshot_interval=5\r\n"));
    seconds(10); // the folder is missing: one line for two failures alike
    EXPECT_EQ(kioskLog(),
              "Impossibile scrivere screenshot_file '" + (dir / "shots" / "screen.PNG").string()
                  + "' (76) Path not found\r\n");
    EXPECT_EQ(shots.metrics().at(0).value, 0);

    std::filesystem::create_directory(dir / "shots");
    seconds(2);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QApplication::sendEvent(&window, &key);
    seconds(3);
    EXPECT_FALSE(std::filesystem::exists(dir / "shots" / "screen.PNG")) << "a visitor touched the screen";
    seconds(5);
    const QImage picture(QString::fromStdString((dir / "shots" / "screen.PNG").string()), "PNG");
    EXPECT_EQ(picture.size(), QSize(1280, 640));
    EXPECT_EQ(picture.pixelColor(640, 100), QColor(Qt::red));
    EXPECT_EQ(picture.pixelColor(640, 600), QColor(Qt::blue));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "shots"), {}), 1) << "nothing left beside";
    EXPECT_EQ(shots.metrics().at(0).value, std::chrono::duration<double>(clock.now().time_since_epoch()).count());

    shots.configure(readSettings("screenshot_file=screen.jpeg\r\nscreenshot_interval=5\r\n"));
    seconds(5);
    EXPECT_EQ(readFile(dir / "screen.jpeg").substr(0, 3), "\xFF\xD8\xFF");
}

} // namespace
