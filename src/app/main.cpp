#include "frmmain.h"
#include "mainmodule.h"
#include "sessionend.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessaly"));
    QApplication::setQuitOnLastWindowClosed(true);
    // The command line is not read.

    // Logout or a termination request closes the windows as the close box
    // would, message boxes of the start-up included, so the program always
    // ends the ordinary way.
    tsy::close_windows_on_session_end();

    tsy::SingleInstance instance;
    std::unique_ptr<tsy::frmMain> window = tsy::main_module(instance);
    if (!window)
        return 0;
    return QApplication::exec();
}
