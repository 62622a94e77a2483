// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where ClearCase is installed: the ProductHome value (the registry on
// Windows, ClearCase's environment variables on POSIX), which must hold
// cleartool. Each face words the outcome its own way.

#include <QString>

namespace tsy::cc {

struct ClearCaseHome {
    enum class Outcome {
        Found,         // path holds cleartool
        NotRegistered, // no ProductHome value can be read
        NoCleartool,   // path holds no cleartool
        SearchFailed,  // the search for cleartool failed
        Failed,        // reading the value failed (or another error came up)
    };
    Outcome outcome = Outcome::NotRegistered;
    // Found: the installation directory, the ProductHome value exactly as
    // stored (a trailing separator kept, nothing trimmed); else empty.
    QString path;
    // The value followed by the cleartool marker: where cleartool was
    // looked for. Empty when there is no value.
    QString cleartool;
    // SearchFailed and Failed: the error's description.
    QString reason;
    // SearchFailed: what the operator is told of a failed file search
    // ("Error determining file exist --> PATH::DESCRIPTION").
    QString searchMessage;

    bool found() const { return outcome == Outcome::Found; }
};

// Reads ProductHome and looks for cleartool beneath it. Never throws.
ClearCaseHome clearcase_home();

} // namespace tsy::cc
