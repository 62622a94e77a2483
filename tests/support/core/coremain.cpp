// SPDX-License-Identifier: Apache-2.0
// GoogleTest main for the core's tests: a QCoreApplication, no platform
// plugin and no widget library.
#include "testenv.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    tsy::test::TestProgramEnv env;
    QCoreApplication app(argc, argv);
    tsy::test::fail_on_process_warnings();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
