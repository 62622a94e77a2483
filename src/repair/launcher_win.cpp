// run_and_wait and abandon_waits on Windows: the Qt-free process layer
// with the user interface kept alive through tsy::do_events and errors
// shown in the program's message box.
#include "launcher.h"

#include "common/msgbox.h"
#include "common/yield.h"
#include "process_win.h"

#include <string>

namespace tsy {

void run_and_wait(const QString& commandLine, int style) {
    // The command line goes to CreateProcessA, so it travels in the ANSI
    // code page, as every 8-bit text of the Windows layer does.
    const QByteArray command = commandLine.toLocal8Bit();
    winproc::run_and_wait(
        std::string(command.constData(), static_cast<std::size_t>(command.size())), style,
        [] { do_events(); },
        [](const std::string& text) {
            msg_box(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
        });
}

void abandon_waits() {
    winproc::abandon_waits();
}

} // namespace tsy
