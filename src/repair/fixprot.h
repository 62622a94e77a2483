// SPDX-License-Identifier: Apache-2.0
#pragma once

// The fix_prot command as a program and an argument list, the checks that
// the storage path found for a view is safe to repair, and, for UNIX
// ClearCase, where and as whom fix_prot runs.

#include <QString>
#include <QStringList>

#include "cc/fixprotstyle.h"
#include "process/result.h"

namespace tsy::repair {

// The default arguments of the "fix_prot" action.
QString default_args(cc::FixProtStyle style);

// The view's owner and group stand for these in the arguments box; they
// are filled per view, wherever they stand.
inline constexpr QLatin1StringView kOwner("{owner}");
inline constexpr QLatin1StringView kGroup("{group}");

// Fills kOwner and kGroup in words. Returns the placeholders that were
// present but had nothing to fill them (an empty owner or group).
QStringList fill_placeholders(QStringList& words, const QString& owner, const QString& group);

// The owner's and the group's names from `lsview -properties -full`, from
// its lines "Owner: NAME : mode" and "Group: NAME : mode", with a
// "domain/" or "domain\" prefix dropped. Empty when a line is missing.
void owner_and_group(const QString& output, QString& owner, QString& group);

// Whether host names this machine, whose short name (its host name up to
// the first dot) and full name (the resolver's canonical name, empty when
// it cannot be learnt) are given. Letter case does not count. A qualified
// host must be the full name: another domain may have a host of the same
// short name. The short name matches an unqualified host only.
bool is_this_host(const QString& host, const QString& shortName, const QString& fullName);
// The same for this machine's names, learnt once.
bool is_this_host(const QString& host);
// Whether host can be handed to a remote shell as a host name: not empty,
// no white space or control characters, not taken for an option.
bool usable_host(const QString& host);

// How to reach the storage host and become root there.
struct Reach {
    QStringList remoteShell; // $TESSALY_SSH, or ssh in batch mode
    QStringList privilege;   // $TESSALY_SUDO, or sudo -n
    bool root = false;       // Tessaly runs as root: no prefix locally
    // Why $TESSALY_SSH or $TESSALY_SUDO could not be split into words,
    // or connections cannot be shared as asked; the words of that one are
    // then empty.
    QString problem;
    // Connections are shared per host (shared_connection_words are in
    // remoteShell): close_shared_connections ends the masters after a run.
    bool shared = false;
};
// $TESSALY_SSH and $TESSALY_SUDO; with $TESSALY_SHARE_SSH=1 the remote
// shell's words share one connection per host.
Reach reach_from_environment();

// The ssh options that share one connection per host among the run's ssh
// calls: the first call to a host leaves a master in the background
// (ControlMaster=auto, ControlPersist), reached through a socket in the
// private runtime directory, named by ssh's hash of the host, port and
// user (%C). Why not when there is no private runtime directory or its
// path leaves ssh no room for the socket's name.
Result<QStringList> shared_connection_words();
// Asks the master of each host, if there is one, to take no new session
// and to end once those it carries have ended (ssh -O stop): a repair still
// at work on a host keeps its connection. Started without waiting for them.
void close_shared_connections(const Reach& reach, const QStringList& hosts);

// The words to start for fix_prot (program and arguments, the storage path
// last) on host: locally, behind the privilege words unless Tessaly is
// root; elsewhere, the remote shell, the host, and the privilege words and
// fix_prot's words, each quoted for the remote shell.
QStringList command_on_host(const Reach& reach, const QString& host, const QStringList& words);

// command_on_host's words for fix_prot with the storage lock taken on the
// host first, by the same command, and held there until fix_prot has
// ended whatever becomes of the remote shell, the repair unit or this
// machine: a small sh script that makes lockDir (world-writable, sticky)
// when it is missing, refuses anything but a regular file at the lock's
// name, opens it read-only without creating it (so that another account's
// file opens too) and runs `flock -n -E 75` around the privilege words and
// fix_prot. flock runs as the remote account, before sudo. The host's own
// $TESSALY_HOST_LOCK_DIR, when set, takes the place of lockDir.
//
// The script reports on its error output, before fix_prot writes there,
// one line per step, each starting with "tessaly-lock: " (the words of
// unit::hostlock in wrap/unitprotocol.h): "at PATH" (the lock it
// asks for), "held" (taken: fix_prot starts now), "fail REASON" (no lock:
// nothing runs, status 70), "noflock" (the host has no flock(1): fix_prot
// runs unlocked there). Status 75 after "at" and no "held": the lock is
// held elsewhere, and nothing ran.
QStringList locked_command_on_host(const Reach& reach, const QString& host, const QString& lockDir,
                                   const QString& lockName, const QStringList& words);

// The words command_on_host gave, as one line to read or paste. The words
// for the other host are already quoted for its shell, and the remote
// shell joins them with blanks: they are shown as that one text, quoted
// once more as one word, so that the line does what the words do.
QString shown_command(const Reach& reach, const QStringList& words);

// The words of the arguments box, split once with the usual quoting rules.
// The "<arguments>" placeholder stands for no arguments.
QStringList argument_words(const QString& argsText);

// The utility's path under the installation directory.
QString fixprot_path(const QString& cchome);

// The storage path that `lsview TAG` output gives for tag, from the
// earliest path marker on, or why there is none. The output must be one
// line naming tag itself, and the path must not be the file system root
// (or a share's root) nor climb out with "..".
Result<QString> storage_from_lookup(const QString& output, const QString& tag);

// path itself if it is a storage path fit to repair (absolute, not a root,
// no ".."), else why not.
Result<QString> checked_storage(const QString& path, const QString& tag);

} // namespace tsy::repair
