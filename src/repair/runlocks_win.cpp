// SPDX-License-Identifier: Apache-2.0
#include "repair/runlocks.h"

namespace tsy::repair {

// Windows: fix_prot runs on this machine under the run lock, which alone
// keeps two runs of one user apart.
QString lock_dir() {
    return runtime_dir();
}

QString lock_dir_problem(const QString&) {
    return QString();
}

} // namespace tsy::repair
