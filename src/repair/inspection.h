// SPDX-License-Identifier: Apache-2.0
#pragma once

// Whether a view's storage needs repair, found out without changing it.
//
// UNIX fix_prot -root -recurse -chown OWNER -chgrp GROUP sets the owner and
// group of every entry of the storage, makes a missing .identity and sets
// the modes a view server works with. A storage needs it when one of these
// rules is broken (docs/storage-rules.md gives each rule's source):
//  - owner: every entry belongs to OWNER and GROUP, .s itself included,
//    but for the view-private files below .s (they belong to whoever made
//    them in the view) and .identity/group.* (each in its own group);
//  - identity: .identity exists, its uid has the set-user-ID bit and its
//    gid the set-group-ID bit (owner and group as above);
//  - mode: no directory its owner cannot read, write and search, no file
//    its owner cannot read and write (the identity files aside), nothing
//    others may write. Group bits follow the creator's umask: not judged.
// A .s that is a symlink is judged by the directory it points to as well.
// .identity/group.NN files name additional groups: reported, since
// fix_prot removes them, but no reason to repair.
//
// The reading is done by the script tessaly-inspect (installed beside the
// repair unit), run where fix_prot would run: first as the account that
// reaches the storage host, and where that account cannot read the
// storage, through sudo as the installed script alone.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace tsy::repair {

struct Reach;

// The inspection's output is read up to this many bytes; past it the
// reading stops and the count is "or more".
inline constexpr qsizetype kInspectionLimit = 8 * 1024 * 1024;
// Exit status of the inspection when a repair holds the storage's lock on
// its host.
inline constexpr int kInspectionBusy = 75;

// The script as the installed tessaly-inspect holds it, comments dropped.
const QString& inspection_script();

// The words that run the inspection as the current account, on host
// (empty or this machine: here): sh -c SCRIPT with the owner, group and
// storage as the script's arguments. With hostLockName, the script first
// asks whether a repair holds the storage lock on the host (in
// hostLockDir, unless the host's own TESSALY_HOST_LOCK_DIR names another)
// and ends with kInspectionBusy if one does.
QStringList inspection_words(const Reach& reach, const QString& host, const QString& storage,
                             const QString& owner, const QString& group,
                             const QString& hostLockDir = QString(),
                             const QString& hostLockName = QString());
// The same as the command log shows it: the script by its name.
QStringList shown_inspection_words(const Reach& reach, const QString& host, const QString& storage,
                                   const QString& owner, const QString& group);
// The words that inspect several storages on host at once, each as
// inspection_words() with its lock probed: four words a storage in each
// (owner, group, storage, lock name). Each storage's records are followed
// by a record of \1, the exit status, a tab and the error output.
QStringList batch_inspection_words(const Reach& reach, const QString& host,
                                   const QString& hostLockDir, const QStringList& each);
// The same as the command log shows it: the script by its name, with
// three words a storage (owner, group, storage).
QStringList shown_batch_inspection_words(const Reach& reach, const QString& host,
                                         const QStringList& each);
// The words that run the installed inspector as root (through the
// privilege words) on host.
QStringList privileged_inspection_words(const Reach& reach, const QString& host,
                                        const QString& inspector, const QString& storage,
                                        const QString& owner, const QString& group);
// The inspector's path: $TESSALY_INSPECT, else the copy beside the repair
// unit here (the storage hosts are expected to have it at the same place).
QString inspector_path();

// How the inspection ended.
struct InspectionEnd {
    bool started = true;
    QString startError; // why it could not be started
    bool crashed = false;
    bool cut = false; // the output passed kInspectionLimit
    int exitCode = 0;
    QByteArray out, err;
};

// One rule a kind of entry breaks, summed up.
struct Problem {
    QString kind;  // "owner", "mode" or "identity"
    int count = 0; // entries that break it
    QString first; // the first of them, as a path on the storage host
    QString why;   // what is wrong with that one
};

struct Verdict {
    enum class Kind { Sound, NeedsRepair, NotChecked, Busy };
    Kind kind = Kind::NotChecked;
    int found = 0;                 // entries found wrong
    bool more = false;             // the reading was cut: found or more
    QString first;                 // the first of them, as a path on the storage host
    QString firstWhy;              // what is wrong with it
    std::vector<Problem> problems; // by kind, in the order first met
    QStringList groups;            // the identity's additional groups
    QString why;                   // why it could not be checked
    // Part of the storage could not be read by the account that ran the
    // inspection, named here; the privileged inspector may read it.
    QString unreadableAs;
};

// What an inspection of storage on host (empty for this machine) that
// ended so says.
Verdict verdict(const InspectionEnd& e, const QString& storage, const QString& owner,
                const QString& group, const QString& host);

// What a verdict that needs repair says of it: "3 entries, the first PATH
// (mode 0000: its owner cannot read it)", the path's control characters
// escaped.
QString needs_repair_text(int found, bool more, const QString& first, const QString& why);
// "additional groups: ccdev, ccqa".
QString groups_text(const QStringList& groups);
// A path or any other field as one line that is safe on a terminal: the
// backslash, line breaks and every other control character (escape
// sequences, C1 controls, Unicode line separators) escaped.
QString escaped_path(const QString& path);

// Whether a repair unit holds the storage lock at lockPath on this machine
// now. Only a regular file is opened, never blocking on it.
bool repair_at_work(const QString& lockPath);

} // namespace tsy::repair
