// The real updater, with a watcher that closes its window the way a user would, as soon as the
// run shows the entry named in CLOSE_DURING_DOWNLOAD_OF (default "slow"). The watcher's timer
// gets its turn only where the updater lets window events through: between received blocks.

#include "modmain.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString entry = qEnvironmentVariableIsSet("CLOSE_DURING_DOWNLOAD_OF")
        ? qEnvironmentVariable("CLOSE_DURING_DOWNLOAD_OF")
        : QStringLiteral("slow");
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&entry] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            const auto *label = window->findChild<QLabel *>("lblFile");
            if (label && label->text() == entry)
                window->close();
        }
    });
    watcher.start(20);
    return modMain::Main();
}
