// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where ClearCase is installed: the directory the system records
// (plat::clearcase_home: the registry on Windows, ClearCase's environment
// variables on POSIX), which must hold cleartool. Each face words the
// outcome its own way.

#include <QString>

namespace tsy::cc {

struct ClearCaseHome {
    enum class Outcome {
        Found,         // path holds cleartool
        NotRegistered, // the system records no installation directory
        NoCleartool,   // path holds no cleartool
        SearchFailed,  // the search for cleartool failed
        Failed,        // reading the value failed (or another error came up)
    };
    Outcome outcome = Outcome::NotRegistered;
    // Found: the installation directory exactly as recorded (a trailing
    // separator kept, nothing trimmed); else empty.
    QString path;
    // The directory followed by the cleartool marker: where cleartool was
    // looked for. Empty when no directory is recorded.
    QString cleartool;
    // SearchFailed and Failed: the error's description.
    QString reason;
    // SearchFailed: what the operator is told of a failed file search
    // ("Error determining file exist --> PATH::DESCRIPTION").
    QString searchMessage;

    bool found() const { return outcome == Outcome::Found; }
};

// Finds the recorded directory and looks for cleartool beneath it. Never
// throws.
ClearCaseHome clearcase_home();

} // namespace tsy::cc
