#include "kioskpage.h"
#include "onscreenkeyboard.h"

#include <QApplication>

#include <gtest/gtest.h>

// The on-screen keyboard's input method is the application's, chosen before the application is
// made, as the kiosk chooses it for on_screen_keyboard=1: its tests have a process of their own.
int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareBrowserEngine();
    prepareOnScreenKeyboard();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
