// SPDX-License-Identifier: Apache-2.0
#pragma once

// The locks that keep repairs from meeting: one run at a time per user id,
// windowed or headless, and one repair at a time per storage directory.
// The run lock and the first, cheap storage lock live in a directory that
// every account of this machine shares, so that runs under other names
// (cron, su) or other accounts see them. The storage lock that counts is
// taken on the storage's own host, by the command that runs fix_prot there
// (see fixprot.h, locked_command_on_host): every workstation, account and
// run sees that one, and it is held for as long as fix_prot runs.

#include "process/result.h"

#include <QString>

#include <memory>

#ifndef _WIN32
#include <sys/types.h>
#endif

class QLockFile;

namespace tsy::repair {

// The user's runtime directory, a directory no other account may write
// in: $XDG_RUNTIME_DIR when it is this user's, else /run/user/UID when it
// is, else tessaly-UID in the temporary directory, made here with mode
// 0700 and checked (owner, mode, no link) at every call. Why not when
// none is private: a name someone else took first is refused.
Result<QString> private_runtime_dir();
// The same, empty when there is none.
QString runtime_dir();
// text with every character but letters, digits, '-', '_' and '.' made '_'.
QString fit_for_file_name(QString text);
// A user name fit for a file name (the user id when none is known).
QString user_for_files();
#ifndef _WIN32
// The name of an account, or "user UID" when it has none.
QString account_name(uid_t uid);
#endif
// The lock directory every account shares ($TESSALY_LOCK_DIR, else
// /run/lock/tessaly, else a directory in the temporary one), made
// world-writable with the sticky bit when this process makes it. A
// directory that belongs to neither root nor this user, or lacks the
// sticky bit, is refused: its owner could remove the locks in it.
QString lock_dir();
// Why lock_dir() cannot hold locks ("DIR belongs to user NAME, not to
// root"), empty when it can.
QString lock_dir_problem(const QString& dir);
// The workstation's lock file of one storage: named by a hash of its host
// (empty for this machine) and its host-local path. The repair unit takes
// it before it connects to the host.
QString storage_lock_path(const QString& host, const QString& storage);

// The storage lock on the storage's host. The directory is the host's own
// $TESSALY_HOST_LOCK_DIR when its environment has one, else this
// machine's $TESSALY_HOST_LOCK_DIR, else /run/lock/tessaly-storage;
// host_lock_dir() gives the part this machine decides. The file is named by
// a hash of the host-local storage path alone, so every workstation names
// the same file.
QString host_lock_dir();
QString host_lock_name(const QString& hostLocalStorage);
// host_lock_dir() + '/' + host_lock_name(hostLocalStorage).
//
// A probe of it (on the host, as the account that runs fix_prot there)
// must resolve the directory as the lock command does, refuse a symbolic
// link or anything but a regular file at the name (`[ -f L ] && [ ! -L L
// ]`) before it opens it, never create it, open it read-only (so another
// account's file opens too), and ask `flock -n -s`: a lock held there
// means fix_prot is at work on the storage.
QString host_lock_path(const QString& hostLocalStorage);
// Where repair units leave their outcome for a later run: this user's own,
// made with mode 0700 in the runtime directory and checked at every call.
// Why not when there is no private one.
Result<QString> unit_record_dir();

// Held for the length of a run, one per user id. A lock left by a process
// that is gone is taken over.
class RunLock {
public:
    RunLock();
    ~RunLock();
    // False when another run holds it; holder() then names that process.
    // False too when the lock's name holds what no run may take (a link, a
    // FIFO, another account's file); problem() then says so, naming it.
    // A directory that takes no lock at all does not stop a run.
    bool acquire();
    void release();
    QString holder() const { return m_holder; }
    QString problem() const { return m_problem; }

private:
    std::unique_ptr<QLockFile> m_lock; // Windows
    int m_fd = -1;                     // POSIX: the open lock file, flock'ed
    QString m_holder;
    QString m_problem;
};

} // namespace tsy::repair
