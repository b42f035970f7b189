// Widgets need one QApplication for the whole run, set up as the program does.
#include "panel/panel_app.h"

#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    // Test discovery only lists names and may run without any display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    adcard::prepareApplication();
    QApplication app(argc, argv);
    adcard::applyApplicationLook();
    return RUN_ALL_TESTS();
}
