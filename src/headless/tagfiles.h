// SPDX-License-Identifier: Apache-2.0
#pragma once

// The files of tags a run reads (--tags) and writes (--failed-to). Neither
// is opened through a symbolic link that another account planted in a
// shared directory such as /tmp.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tsy::headless {

// The tags of a --tags file: one a line (a tag, or a tag:host line as
// --list prints it), blank lines and "#" comments skipped. False, with
// why, when it cannot be read. stdinOpen: whether the standard input was
// open when the program started.
bool read_tags(const QString& path, bool stdinOpen, QStringList& tags, QString& why);

// Whether --failed-to's file can be written, found out before the run
// rather than after a night's work. Nothing is written.
bool can_write(const QString& path, QString& why);

// Writes bytes to --failed-to's file: a regular file replaced whole, one
// reached through a link overwritten where it is, a FIFO, device or open
// stream appended to. False, with why, when it could not.
bool write_failed_to(const QString& path, const QByteArray& bytes, QString& why);

} // namespace tsy::headless
