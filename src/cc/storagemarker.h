// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where a storage path starts in lsview output and what counts as a root,
// which differ between the platforms: one header, one file per OS.

#include <QString>
#include <QStringList>

namespace tsy::cc {

// Two backslashes on Windows (a UNC path), a slash on POSIX.
QString storage_marker();
// Whether c parts the names of a storage path: a slash, and on Windows a
// backslash too.
bool is_storage_separator(QChar c);
// The non-empty names between a storage path's separators. Split by
// character, not by a pattern: a path decoded from bytes that are not
// UTF-8 holds text a regular expression refuses to match, and would come
// back whole, hiding a ".." in it.
inline QStringList storage_parts(const QString& path) {
    QStringList parts;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !is_storage_separator(path.at(i)))
            continue;
        if (i > from)
            parts.append(path.mid(from, i - from));
        from = i + 1;
    }
    return parts;
}
// Whether path names the file system root, or the root of a share, once
// cleaned: repairing it recursively would touch far more than one view.
bool is_storage_root(const QString& path);

} // namespace tsy::cc
