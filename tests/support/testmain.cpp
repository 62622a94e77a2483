// GoogleTest main for the widget tests: an offscreen QApplication and a
// private runtime directory, so tests never touch the desktop or each other.
#include "clearcase/launcher.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    tsy::set_wrapper_path(QStringLiteral(TESSALY_TEST_WRAP));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
