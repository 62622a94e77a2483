// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where a storage path starts in lsview output and what counts as a root,
// which differ between the platforms: one header, one file per OS.

#include <QString>
#include <QStringList>

namespace tsy::cc {

// Two backslashes on Windows (a UNC path), a slash on POSIX.
QString storage_marker();
// The non-empty names between a storage path's separators. Split by
// character, not by a pattern: a path decoded from bytes that are not
// UTF-8 holds text a regular expression refuses to match, and would come
// back whole, hiding a ".." in it.
QStringList storage_parts(const QString& path);
// Whether path names the file system root, or the root of a share, once
// cleaned: repairing it recursively would touch far more than one view.
bool is_storage_root(const QString& path);

} // namespace tsy::cc
