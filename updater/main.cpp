#include "modmain.h"
#include "platform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    platform::closeInheritedDescriptors();
    QApplication app(argc, argv);
    return modMain::Main();
}
