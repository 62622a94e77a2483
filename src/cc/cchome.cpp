// SPDX-License-Identifier: Apache-2.0
#include "cc/cchome.h"

#include "platform/platform.h"

#include <exception>
#include <optional>
#include <string>

namespace tsy::cc {

ClearCaseHome clearcase_home() {
    using Outcome = ClearCaseHome::Outcome;
    ClearCaseHome h;
    // The registry value's conversion throws PlatformError for a value it
    // cannot read; the file search returns its failure.
    try {
        const std::optional<std::string> home = plat::clearcase_home();
        if (!home) {
            h.outcome = Outcome::NotRegistered;
            return h;
        }
        h.path = QString::fromLocal8Bit(*home);
        h.cleartool = h.path + QString::fromLocal8Bit(plat::cleartool_marker());
        const plat::FileSearch search = plat::holds_cleartool(*home);
        if (search.failed) {
            h.outcome = Outcome::SearchFailed;
            h.reason = QString::fromLocal8Bit(search.description);
            h.searchMessage = QString::fromLocal8Bit(plat::file_search_message(search));
        } else {
            h.outcome = search.found ? Outcome::Found : Outcome::NoCleartool;
        }
    } catch (const std::exception& e) {
        h.outcome = Outcome::Failed;
        h.reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        h.outcome = Outcome::Failed;
        h.reason = QStringLiteral("unknown error");
    }
    if (!h.found())
        h.path.clear();
    return h;
}

} // namespace tsy::cc
