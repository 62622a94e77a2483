// SPDX-License-Identifier: Apache-2.0
#pragma once

// What every test program sets up around its application object, whether
// a QCoreApplication (the core's tests) or a QApplication (the window's).

#include <QTemporaryDir>

namespace tsy::test {

// A private runtime directory and lock directory, so test programs never
// touch the desktop's or each other's, and the repair unit of this build,
// found as the installed program finds it. Made before the application.
class TestProgramEnv {
public:
    TestProgramEnv();
    TestProgramEnv(const TestProgramEnv&) = delete;
    TestProgramEnv& operator=(const TestProgramEnv&) = delete;

private:
    QTemporaryDir m_runtime;
};

// From now on a warning from QProcess, which means a child was set up
// inconsistently (its channels, its start), fails the test that caused it.
void fail_on_process_warnings();

} // namespace tsy::test
