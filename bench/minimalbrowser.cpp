// A full-screen browser view on the page given as the only argument, and nothing else: what the
// kiosk's start and memory are measured against.

#include <QApplication>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QWebEngineView view;
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    view.showFullScreen();
    return app.exec();
}
