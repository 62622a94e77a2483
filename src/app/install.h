// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

namespace tsy {

// Whether ClearCase is installed: the installation directory the system
// records (cc::clearcase_home) holds the cleartool marker. home becomes
// that directory, as recorded, or stays empty.
bool is_clearcase_installed(QString& home);

} // namespace tsy
