// SPDX-License-Identifier: Apache-2.0
#include "testenv.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tsy::test {

namespace {
QtMessageHandler g_previous = nullptr;

void process_warning_fails(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QLatin1StringView("QProcess")))
        ADD_FAILURE() << "Qt warning: " << text.toStdString();
    if (g_previous)
        g_previous(type, context, text);
}
} // namespace

TestProgramEnv::TestProgramEnv() {
    ::chmod(QFile::encodeName(m_runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    // The locks every account shares, kept apart from other test programs.
    qputenv("TESSALY_LOCK_DIR", QFile::encodeName(m_runtime.path() + QStringLiteral("/locks")));
    qputenv("TESSALY_WRAP", TESSALY_TEST_WRAP);
}

void fail_on_process_warnings() {
    g_previous = qInstallMessageHandler(process_warning_fails);
}

} // namespace tsy::test
