// SPDX-License-Identifier: Apache-2.0
#include "sessionend.h"

#include "process/stopsignals.h"

#include <QApplication>
#include <QWidget>

namespace tsy {

void close_windows_on_session_end() {
    process::on_stop_signals([] {
        // A modal box first, so that the code waiting on it goes on and
        // sees the main window closing.
        while (QWidget* modal = QApplication::activeModalWidget()) {
            if (!modal->close())
                break;
        }
        QApplication::closeAllWindows();
    });
}

} // namespace tsy
