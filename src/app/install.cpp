// SPDX-License-Identifier: Apache-2.0
#include "install.h"

#include "cc/cchome.h"
#include "common/msgbox.h"

#include <cstdio>

namespace tsy {

bool is_clearcase_installed(QString& home) {
    using Outcome = cc::ClearCaseHome::Outcome;
    const cc::ClearCaseHome found = cc::clearcase_home();
    home = found.path;
    switch (found.outcome) {
    case Outcome::Found:
        return true;
    case Outcome::NotRegistered:
        return false;
    case Outcome::NoCleartool:
        // The box says only that ClearCase is missing; say where it was looked for.
        std::fprintf(stderr, "tessaly: no ClearCase installation found: %s is missing\n",
                     found.cleartool.toLocal8Bit().constData());
        return false;
    case Outcome::SearchFailed:
        // The search for the marker failed: said as file_exists says it.
        msg_box(found.searchMessage, QString(), MsgIcon::Critical);
        return false;
    case Outcome::Failed:
        msg_box(QStringLiteral("Error::") + found.reason +
                    QStringLiteral("::not determine if ClearCase is installed"),
                QStringLiteral("Error..."), MsgIcon::Critical);
        return false;
    }
    return false;
}

} // namespace tsy
