#pragma once

// The locks that keep repairs from meeting: one run at a time per user,
// windowed or headless, and one fix_prot at a time per storage directory.
// Both live in the user's runtime directory, beside the window's
// single-instance lock.

#include <QString>

#include <memory>

class QLockFile;

namespace tsy {

// The user's runtime directory (the temporary directory if there is none).
QString runtime_dir();
// text with every character but letters, digits, '-', '_' and '.' made '_'.
QString fit_for_file_name(QString text);
// A user name fit for a file name (the user id when none is known).
QString user_for_files();
// The lock file of one storage path: named by a hash of the cleaned path.
QString storage_lock_path(const QString& storage);

// Held for the length of a run. A lock left by a process that is gone is
// taken over.
class RunLock {
public:
    RunLock();
    ~RunLock();
    // False when another run holds it; holder() then names that process.
    // A runtime directory that takes no lock at all does not stop a run.
    bool acquire();
    void release();
    QString holder() const { return m_holder; }

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_holder;
};

// An exclusive lock on one storage path, as an open descriptor that the
// fix_prot started on that path inherits, so that it is held for as long
// as that fix_prot runs, whatever becomes of Tessaly.
class StorageLock {
public:
    explicit StorageLock(const QString& storage);
    ~StorageLock();
    StorageLock(const StorageLock&) = delete;
    StorageLock& operator=(const StorageLock&) = delete;

    // Whether a fix_prot of an earlier run still holds the path.
    bool busy() const { return m_busy; }
    // The descriptor for the child to keep (-1 where there is none).
    int descriptor() const { return m_fd; }
    // Why the lock file could not even be opened; empty otherwise (a lock
    // that cannot be made does not stop the repair).
    QString problem() const { return m_problem; }

private:
    int m_fd = -1;
    bool m_busy = false;
    QString m_problem;
};

} // namespace tsy
