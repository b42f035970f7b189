// Widgets need one QApplication for the whole run, set up as the program does.
#include "panel/panel_app.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gmock/gmock.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    // Test discovery only lists names and may run without any display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // The windows remember where they were left, and the channels their
    // names: in settings of this run's own, never the user's.
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    adcard::prepareApplication();
    QApplication app(argc, argv);
    adcard::applyApplicationLook();
    return RUN_ALL_TESTS();
}
