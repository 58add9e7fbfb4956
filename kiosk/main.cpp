#include "frmtesmora.h"
#include "kioskpage.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    platform::closeInheritedDescriptors();
    prepareBrowserEngine();
    QApplication app(argc, argv);
    SystemClock clock;
    frmTesmora window(KioskEnvironment::ofRunningProgram(clock));
    window.start();
    return app.exec();
}
