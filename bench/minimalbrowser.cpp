// A full-screen browser view on the page given as the only argument, and nothing else: what the
// kiosk's start and memory are measured against.

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QWebEngineView view;
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    // As the kiosk does: full screen needs a window manager, the screen's size does not.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        view.setGeometry(screen->geometry());
    view.showFullScreen();
    return app.exec();
}
