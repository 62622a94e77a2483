// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cc/session.h"

#include <QString>

#include <memory>

class QLockFile;

namespace tsy {

class frmMain;

// The per-user, per-display lock that tells a later start that a copy is
// running. A lock left by a crashed copy is taken over.
class SingleInstance {
public:
    SingleInstance();
    ~SingleInstance();
    // False when another copy holds the lock.
    bool acquire();
    QString path() const;

    // The lock file's name for this user and display.
    static QString lockPath();

private:
    std::unique_ptr<QLockFile> m_lock;
};

// Start-up: refuses a second copy, then makes, loads and shows the main
// window. Returns the window when it is shown, or null when the program
// is to end at once (a copy runs already, or ClearCase is missing).
std::unique_ptr<frmMain> main_module(SingleInstance& instance,
                                     std::shared_ptr<cc::Backend> backend = cc::default_backend());

} // namespace tsy
