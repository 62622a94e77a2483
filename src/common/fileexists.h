// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

namespace tsy {

// Whether an ordinary file matches path (a search pattern); directories
// count too when directories is exactly true. A failing search is reported
// in a box and counts as not found.
bool file_exists(const QString& path, const bool& directories);

} // namespace tsy
