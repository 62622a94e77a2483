// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <cstdint>

namespace tsy {

// Whether ClearCase is installed: the installation directory named by
// ProductHome holds the cleartool marker. home becomes that directory, as
// stored, or stays empty.
bool is_clearcase_installed(QString& home);

// One registry value as text (see plat::get_key_value); throws what the
// conversion throws.
bool get_key_value(std::uint32_t root, const QString& keyPath, const QString& valueName,
                   QString& result);

} // namespace tsy
