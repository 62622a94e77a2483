// SPDX-License-Identifier: Apache-2.0
#pragma once

// Whether a view's storage needs repair, found out without changing it.
// UNIX fix_prot -root -recurse -chown OWNER -chgrp GROUP sets the owner
// and group of every entry of the storage; an entry owned by anyone else
// means it would change something. Below the view-private storage
// directory (.s) files belong to whoever made them in the view, rightly:
// those are not counted, the .s directory itself is.
//
// The inspection is one POSIX shell command run where fix_prot would run
// (on the storage host, as root): a find over the storage that prints the
// entries not owned by OWNER and GROUP, cut after kInspectionCut of them.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tsy::repair {

// At most this many entries are reported; the walk stops after them.
inline constexpr int kInspectionCut = 10;

// The inspection's words (sh -c SCRIPT and its arguments): to be started
// as they are here, or each quoted for the remote shell (see
// command_on_host). No word depends on a shell's reading of the
// path, owner or group: they are the script's arguments.
QStringList inspection_words(const QString& storage, const QString& owner, const QString& group);

// How the inspection ended.
struct InspectionEnd {
    bool started = true;
    QString startError; // why it could not be started
    bool crashed = false;
    int exitCode = 0;
    QByteArray out, err;
};

struct Verdict {
    enum class Kind { Sound, NeedsRepair, NotChecked };
    Kind kind = Kind::NotChecked;
    int found = 0; // entries found, up to kInspectionCut
    QString first; // the first of them, as a path on the storage host
    QString why;   // why it could not be checked
};

// What an inspection of storage on host (empty for this machine) that
// ended so says.
Verdict verdict(const InspectionEnd& e, const QString& storage, const QString& owner,
                const QString& group, const QString& host);

// Whether a repair unit holds the storage lock at lockPath now.
bool repair_at_work(const QString& lockPath);

} // namespace tsy::repair
