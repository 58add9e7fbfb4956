#include "frmtesmora.h"
#include "kioskpage.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    platform::markInheritedDescriptorsCloseOnExec();
    prepareBrowserEngine();
    // The kiosk reads no command line, and the browser engine must not read one either.
    argc = 1;
    platform::chooseDisplayPlatform(false);
    QApplication app(argc, argv);
    SystemClock clock;
    frmTesmora window(KioskEnvironment::ofRunningProgram(clock));
    window.start();
    return app.exec();
}
