// SPDX-License-Identifier: Apache-2.0
#include "frmmain.h"
#include "headless/headless.h"
#include "mainmodule.h"
#include "sessionend.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

void say_no_display() {
    const QByteArray display = qgetenv("DISPLAY");
    QByteArray which("DISPLAY is not set");
    if (!display.isEmpty())
        which = QByteArray("DISPLAY=") + display + QByteArray(" does not answer");
    std::fprintf(stderr,
                 "tessaly: no display could be opened (%s); start it in a desktop session, "
                 "or set DISPLAY to a running X server (tessaly --list and tessaly --repair need "
                 "none)\n",
                 which.constData());
}

// While the application object is made, a fatal message can only mean
// the window system could not be reached: Qt would abort with a core
// dump; Tessaly says why and ends with status 2.
void startup_messages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        say_no_display();
        std::_Exit(2);
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

// Whether Qt is left to pick its platform and nothing could serve as one.
bool no_display_at_all() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return (platform.isEmpty() || platform == "xcb") && qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv) {
#ifndef Q_OS_WIN
    // A reader that went away is an error to handle where the write is
    // made, never a reason to die mid-run.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Any option is for the headless face, which needs no display.
    if (argc > 1)
        return tsy::headless::run(argc, argv);
#ifndef Q_OS_WIN
    if (no_display_at_all()) {
        say_no_display();
        return 2;
    }
#endif
    const QtMessageHandler previous = qInstallMessageHandler(startup_messages);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    // No display name: Qt would append it to every title the window system
    // shows. The desktop knows the program by its desktop file instead.
    QApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QApplication::setQuitOnLastWindowClosed(true);

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
