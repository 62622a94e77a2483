// SPDX-License-Identifier: Apache-2.0
// GoogleTest main for the widget tests: an offscreen QApplication and a
// private runtime directory, so tests never touch the desktop or each other.
#include "repair/launcher.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {
QtMessageHandler g_previous = nullptr;

// A warning from QProcess means a child was set up inconsistently (its
// channels, its start): it fails the test that caused it.
void fail_on_process_warnings(QtMsgType type, const QMessageLogContext& context,
                              const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QLatin1StringView("QProcess")))
        ADD_FAILURE() << "Qt warning: " << text.toStdString();
    if (g_previous)
        g_previous(type, context, text);
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    // The locks every account shares, kept apart from other test programs.
    qputenv("TESSALY_LOCK_DIR", QFile::encodeName(runtime.path() + QStringLiteral("/locks")));
    // The repair unit of this build, found as the installed program finds it.
    qputenv("TESSALY_WRAP", TESSALY_TEST_WRAP);
    QApplication app(argc, argv);
    g_previous = qInstallMessageHandler(fail_on_process_warnings);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
