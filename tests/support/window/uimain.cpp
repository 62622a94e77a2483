// SPDX-License-Identifier: Apache-2.0
// GoogleTest main for the window's tests: an offscreen QApplication, so
// tests never touch the desktop.
#include "testenv.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    tsy::test::TestProgramEnv env;
    QApplication app(argc, argv);
    tsy::test::fail_on_process_warnings();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
