// SPDX-License-Identifier: Apache-2.0
#pragma once

// The files of tags a run reads (--tags) and writes (--failed-to). Neither
// is opened through a symbolic link that another account planted in a
// shared directory such as /tmp.

#include "process/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tsy::headless {

// The tags of a --tags file: one a line (a tag, or a tag:host line as
// --list prints it), blank lines and "#" comments skipped; why not when
// it cannot be read. stdinOpen: whether the standard input was open when
// the program started.
Result<QStringList> read_tags(const QString& path, bool stdinOpen);

// Whether --failed-to's file can be written, found out before the run
// rather than after a night's work; why not. Nothing is written.
Result<void> can_write(const QString& path);

// Writes bytes to --failed-to's file: a regular file replaced whole, one
// reached through a link overwritten where it is, a FIFO, device or open
// stream appended to. Why not when it could not.
Result<void> write_failed_to(const QString& path, const QByteArray& bytes);

} // namespace tsy::headless
