// Runs the tests inside a QApplication set up as the program sets it up.
#include "panel/panel_app.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    adcard::prepareApplication();
    QApplication app(argc, argv);
    adcard::applyApplicationLook();
    return RUN_ALL_TESTS();
}
