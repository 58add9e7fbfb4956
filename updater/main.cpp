#include "modmain.h"
#include "platform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    platform::markInheritedDescriptorsCloseOnExec();
    if (argc == 2) {
        if (const int status = modMain::Recover(argv[1]); status >= 0)
            return status;
    }
    const platform::DisplaySession session = platform::chooseDisplayPlatform(true);
    QApplication app(argc, argv);
    return modMain::Main(session);
}
