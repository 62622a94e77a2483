// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where a storage path starts in lsview output and what counts as a root,
// which differ between the platforms: one header, one file per OS.

#include <QRegularExpression>
#include <QString>

namespace tsy::cc {

// Two backslashes on Windows (a UNC path), a slash on POSIX.
QString storage_marker();
// The separators of a storage path.
const QRegularExpression& storage_separators();
// Whether path names the file system root, or the root of a share, once
// cleaned: repairing it recursively would touch far more than one view.
bool is_storage_root(const QString& path);

} // namespace tsy::cc
