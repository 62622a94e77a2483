// SPDX-License-Identifier: Apache-2.0
#pragma once

// The locks that keep repairs from meeting: one run at a time per user id,
// windowed or headless, and one repair at a time per storage directory.
// Both live in a directory that every account of this machine shares, so
// that runs under other names (cron, su) or other accounts see them. They
// cover this machine only: a run on another workstation is not seen.

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
// 0700 and checked (owner, mode, no link) at every call. False, with why,
// when none is private: a name someone else took first is refused.
bool private_runtime_dir(QString& dir, QString& why);
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
// world-writable with the sticky bit when this process makes it.
QString lock_dir();
// The lock file of one storage: named by a hash of its host (empty for
// this machine) and its host-local path. The repair unit takes it.
QString storage_lock_path(const QString& host, const QString& storage);
// Where repair units leave their outcome for a later run: this user's own,
// made with mode 0700 in the runtime directory and checked at every call.
// Empty, with why, when there is no private one.
QString unit_record_dir(QString* why = nullptr);

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
