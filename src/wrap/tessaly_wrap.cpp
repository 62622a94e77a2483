// SPDX-License-Identifier: Apache-2.0
// tessaly-wrap: the repair unit. It runs one view's fix_prot and then the
// view's `cleartool endview -server TAG` as one piece of work that does not
// depend on Tessaly living: Tessaly starts it in a session of its own and
// reads its reports, but once started the unit finishes alone, whatever
// becomes of Tessaly (a closed window, a closed pipe, SIGKILL).
//
//   tessaly-wrap [--report FIFO|-] [--tag TAG] [--lock FILE] [--record FILE]
//                [--endview CLEARTOOL] [--endview-after-failure] [--remote]
//                [--host-lock HOST] [--terminal] [--keep-errors]
//                -- PROGRAM [ARGS...]
//
// --lock FILE    the workstation's lock of the storage: taken before
//                PROGRAM starts and held by this process until endview has
//                ended. Held already: the unit reports "busy" and runs
//                nothing. Not to be had (not a regular file, no right to
//                make it): it reports "nolock" and runs nothing.
// --host-lock H  PROGRAM takes the storage lock on host H itself and tells
//                how on its error output (lines "tessaly-lock: ..."; see
//                locked_command_on_host). The unit reads those lines out of
//                that output: a lock held there is "busy", one that cannot
//                be had is "nolock", and a host without flock is
//                "unlocked"; the rest of the output goes where it would.
// --record FILE  where the outcome is left for a later run, written when
//                the unit starts and again when it ends; the unit keeps a
//                lock on it while it lives, so a reader can tell a unit
//                at work from one that is gone.
// --endview CT   after PROGRAM, CT endview -server TAG; only after a
//                PROGRAM that succeeded unless --endview-after-failure.
// --remote       PROGRAM is the remote shell: its exit status 255 means it
//                could not connect, and the last line says so.
// --terminal     the unit runs in a terminal window: it names the view in
//                the title, shows the command first and what failed last,
//                and after a failure waits for Enter (the storage lock is
//                released before that wait).
// --keep-errors  PROGRAM's error output goes to a file, and its first line
//                is reported as "message TEXT" (no window to read it in).
//
// Its options, reports and record are written down in unitprotocol.h.
#include "platform/shellquote.h"
#include "wrap/unitprotocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    std::string report, tag, lock, record, endview, hostLock;
    bool endviewAfterFailure = false;
    bool remote = false;
    bool terminal = false;
    bool keepErrors = false;
    std::vector<char*> program; // null-terminated
};

int g_report = -1;

using tsy::unit::Verb;

void report(const tsy::unit::Report& r) {
    if (g_report < 0)
        return;
    const std::string text = tsy::unit::format(r) + "\n";
    // One write: a line under PIPE_BUF bytes arrives whole. A reader that
    // has gone away is no reason to stop (SIGPIPE is ignored).
    if (::write(g_report, text.data(), text.size()) < 0 && errno == EPIPE) {
        ::close(g_report);
        g_report = -1;
    }
}

void report(Verb v, const std::string& text) {
    report({v, 0, text});
}
void report(Verb v, long long number = 0) {
    report({v, number, std::string()});
}

std::string now_utc() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// A shell-quoted command line, as the terminal shows it.
std::string quoted(const std::vector<char*>& words) {
    std::string line;
    for (const char* w : words) {
        if (!w)
            break;
        if (!line.empty())
            line += ' ';
        line += plat::shell_quote(std::string(w));
    }
    return line;
}

// The storage lock. A file in a directory every account shares: opened
// without O_CREAT first, since a kernel that protects regular files in
// sticky directories refuses O_CREAT on another account's file. Never
// through a link, never waiting (a FIFO planted at the name would hold
// the open for ever), and only a regular file counts.
enum class Lock { Held, Busy, Failed };
Lock take_lock(const std::string& path, int& fd, std::string& why) {
    constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < 3; ++attempt) {
        fd = ::open(path.c_str(), O_RDWR | flags);
        if (fd < 0 && errno == EACCES)
            fd = ::open(path.c_str(), O_RDONLY | flags);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0666);
            if (fd >= 0)
                ::fchmod(fd, 0666); // whatever the umask: any account takes it
            else if (errno == EEXIST)
                continue;
        }
        if (fd < 0) {
            // O_NOFOLLOW on a symbolic link.
            why = errno == ELOOP ? path + " is not a regular file"
                                 : path + ": " + std::strerror(errno);
            return Lock::Failed;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fd = -1;
            why = path + " is not a regular file";
            return Lock::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return Lock::Held;
        const int e = errno;
        ::close(fd);
        fd = -1;
        if (e == EWOULDBLOCK)
            return Lock::Busy;
        why = path + ": " + std::strerror(e);
        return Lock::Failed;
    }
    why = path + ": " + std::strerror(EEXIST);
    return Lock::Failed;
}

namespace hostlock = tsy::unit::hostlock;
constexpr std::string_view kMarker = hostlock::marker;

// What a program that takes the storage lock on its host said of it, read
// out of its error output (see --host-lock).
struct HostLock {
    bool said = false;    // any line of the lock command at all
    bool held = false;    // taken: the program runs
    bool noFlock = false; // the host has no flock: the program runs unlocked
    std::string at;       // the lock's path on the host
    std::string fail;     // why it could not be taken
};

// Reads a child's error output as it grows in a file and takes the lock
// command's lines out of it while they may come (until the lock is held or
// known absent); the rest goes on to out (-1: it stays in the file only).
// A file, not a pipe: whatever becomes of the unit, the child can always
// write its errors, so fix_prot never dies of a reader that went away.
class ErrorRelay {
public:
    ErrorRelay(int out, HostLock& lock) : m_out(out), m_lock(lock) {}

    bool reading() const { return m_reading; }
    bool passesNothing() const { return m_out < 0; }
    // What was added to fd since the last call.
    void tail(int fd) {
        char buf[4096];
        for (ssize_t n; (n = ::pread(fd, buf, sizeof buf, m_offset)) > 0;) {
            m_offset += n;
            feed(buf, std::size_t(n));
        }
    }
    void flush() {
        m_reading = false;
        pass(m_head.data(), m_head.size());
        m_head.clear();
    }

private:
    void feed(const char* data, std::size_t n) {
        if (!m_reading) {
            pass(data, n);
            return;
        }
        m_head.append(data, n);
        std::size_t nl;
        while (m_reading && (nl = m_head.find('\n')) != std::string::npos) {
            const std::string line = m_head.substr(0, nl);
            m_head.erase(0, nl + 1);
            if (!marker(line))
                pass((line + "\n").data(), line.size() + 1);
        }
        if (!m_reading || m_head.size() > 4096)
            flush();
    }
    bool marker(const std::string& line) {
        if (line.compare(0, kMarker.size(), kMarker) != 0)
            return false;
        const std::string_view what = std::string_view(line).substr(kMarker.size());
        m_lock.said = true;
        if (what == hostlock::held || what == hostlock::noFlock) {
            (what == hostlock::held ? m_lock.held : m_lock.noFlock) = true;
            m_reading = false; // the program's own output follows
        } else if (what.substr(0, hostlock::at.size()) == hostlock::at) {
            m_lock.at = what.substr(hostlock::at.size());
        } else if (what.substr(0, hostlock::fail.size()) == hostlock::fail) {
            m_lock.fail = what.substr(hostlock::fail.size());
        }
        return true;
    }
    void pass(const char* data, std::size_t n) {
        while (m_out >= 0 && n > 0) {
            const ssize_t w = ::write(m_out, data, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return;
            data += w;
            n -= std::size_t(w);
        }
    }

    int m_out;
    HostLock& m_lock;
    bool m_reading = true;
    off_t m_offset = 0;
    std::string m_head;
};

// The record a later run reads when Tessaly was gone by the end.
struct Record {
    int fd = -1;
    std::string head; // tag, storage, start

    void open(const Options& o, const std::string& lock) {
        if (o.record.empty())
            return;
        fd = ::open(o.record.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        // Held for as long as this unit lives.
        ::flock(fd, LOCK_EX);
        namespace rec = tsy::unit::record;
        head = std::string(rec::magic) + rec::line(rec::tag, o.tag) + rec::line(rec::lock, lock) +
               rec::line(rec::started, now_utc());
        write(std::string());
    }
    void write(const std::string& rest) const {
        if (fd < 0)
            return;
        const std::string text = head + rest;
        if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
            const ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
    }
};

struct Ended {
    bool started = false;
    int startError = 0;
    bool signalled = false;
    int code = 0;

    bool succeeded() const { return started && !signalled && code == 0; }
    std::string text() const {
        if (!started)
            return std::string("not started: ") + std::strerror(startError);
        return signalled ? "signal " + std::to_string(code) : "exit " + std::to_string(code);
    }
};

// Runs words with stdin from /dev/null (unless inheritStdin), stdout to
// /dev/null (unless inheritStdout) and stderr to errFd (-1: inherited),
// through relay when one is given.
Ended run(char* const* words, bool inheritStdin, bool inheritStdout, int errFd, bool reportPid,
          ErrorRelay* relay = nullptr) {
    Ended e;
    // posix_spawn starts the child without copying this process: the
    // system's spawn shares the memory until the exec, and says whether the
    // exec failed. The hang-up stays ignored: closing a terminal never cuts
    // a repair short. What the unit ignores for itself is the child's again.
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    ::posix_spawnattr_init(&attr);
    ::posix_spawn_file_actions_init(&actions);
    sigset_t defaults;
    ::sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGQUIT, SIGPIPE, SIGTERM})
        ::sigaddset(&defaults, sig);
    ::posix_spawnattr_setsigdefault(&attr, &defaults);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    if (!inheritStdin)
        ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!inheritStdout)
        ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (errFd >= 0)
        ::posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, words[0], &actions, &attr, words, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    if (spawned != 0) {
        e.startError = spawned;
        return e;
    }
    e.started = true;
    int status = 0;
    if (reportPid)
        report(Verb::Started, child);
    bool reaped = false;
    if (relay && errFd >= 0) {
        // Woken by the child's end where the system offers a descriptor
        // for it, else every 20 ms; the file is read at each turn.
        const int pidfd = int(::syscall(SYS_pidfd_open, child, 0));
        while (!reaped) {
            relay->tail(errFd);
            if (!relay->reading() && relay->passesNothing())
                break; // the rest stays in the file: nothing to tail for
            pollfd p{pidfd, POLLIN, 0};
            if (pidfd >= 0)
                ::poll(&p, 1, 200);
            else
                ::usleep(20'000);
            reaped = ::waitpid(child, &status, WNOHANG) == child;
        }
        relay->tail(errFd);
        relay->flush();
        if (pidfd >= 0)
            ::close(pidfd);
    }
    while (!reaped && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    e.signalled = WIFSIGNALED(status);
    e.code = e.signalled ? WTERMSIG(status) : WEXITSTATUS(status);
    return e;
}

// An unnamed file for a program's error output: in memory where the
// system offers that, else a temporary file removed at once.
int error_file() {
#ifdef MFD_CLOEXEC
    const int mem = ::memfd_create("tessaly-errors", MFD_CLOEXEC);
    if (mem >= 0)
        return mem;
#endif
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessaly-errors-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(path.c_str());
    return fd;
}

std::string read_back(int fd, std::size_t most) {
    std::string text;
    if (fd < 0)
        return text;
    text.resize(most);
    const ssize_t n = ::pread(fd, text.data(), most, 0);
    text.resize(n > 0 ? std::size_t(n) : 0);
    return text;
}

std::string first_line(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        const std::size_t b = line.find_first_not_of(" \t\r");
        // The lock command's own lines are not the program's word.
        if (b != std::string::npos && line.compare(b, kMarker.size(), kMarker) != 0) {
            line = line.substr(b, 300);
            for (char& c : line)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    c = '?';
            return line;
        }
        start = end + 1;
    }
    return std::string();
}

void wait_for_enter(const std::string& what) {
    std::fprintf(stderr, "\n%s. Press Enter to close this window.\n", what.c_str());
    if (!::isatty(0))
        return;
    char c = 0;
    while (::read(0, &c, 1) == 1 && c != '\n') {
    }
}

bool parse(int argc, char** argv, Options& o) {
    namespace opt = tsy::unit::opt;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == opt::report && more)
            o.report = argv[++i];
        else if (a == opt::tag && more)
            o.tag = argv[++i];
        else if (a == opt::lock && more)
            o.lock = argv[++i];
        else if (a == opt::hostLock && more)
            o.hostLock = argv[++i];
        else if (a == opt::record && more)
            o.record = argv[++i];
        else if (a == opt::endview && more)
            o.endview = argv[++i];
        else if (a == opt::endviewAfterFailure)
            o.endviewAfterFailure = true;
        else if (a == opt::remote)
            o.remote = true;
        else if (a == opt::terminal)
            o.terminal = true;
        else if (a == opt::keepErrors)
            o.keepErrors = true;
        else if (a == opt::end) {
            ++i;
            break;
        } else {
            std::fprintf(stderr, "tessaly-wrap: unknown option %s\n", argv[i]);
            return false;
        }
    }
    if (i >= argc)
        return false;
    o.program.assign(argv + i, argv + argc);
    o.program.push_back(nullptr);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: tessaly-wrap [--report FIFO|-] [--tag TAG] [--lock FILE] "
                             "[--record FILE] [--endview CLEARTOOL] -- PROGRAM [ARGS...]\n");
        return 2;
    }
    // Nothing that happens to Tessaly or to the terminal ends the unit: a
    // hang-up, a Ctrl-C meant for the terminal, a reader that went away.
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE})
        std::signal(sig, SIG_IGN);

    if (o.report == tsy::unit::opt::reportToStdout) {
        g_report = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
        // What the children would write there goes nowhere instead.
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0 && !o.terminal)
            ::dup2(null, 1);
    } else if (!o.report.empty()) {
        // Never blocks: without a reader the unit still works, unreported.
        g_report = ::open(o.report.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (g_report >= 0)
            ::fcntl(g_report, F_SETFL, ::fcntl(g_report, F_GETFL) & ~O_NONBLOCK);
    }

    const std::string title = o.tag.empty() ? std::string(o.program[0]) : "fix_prot " + o.tag;
    if (o.terminal) {
        std::fprintf(stderr, "\033]0;%s\007", title.c_str());
        std::fprintf(stderr, "%s\n\n", quoted(o.program).c_str());
    }

    int lockFd = -1;
    if (!o.lock.empty()) {
        std::string why;
        switch (take_lock(o.lock, lockFd, why)) {
        case Lock::Busy:
            report(Verb::Busy, o.lock);
            report(Verb::Done);
            if (o.terminal)
                wait_for_enter("Another repair of this view's storage is still at work");
            return 75;
        case Lock::Failed:
            // No repair without its lock.
            report(Verb::NoLock, why);
            report(Verb::Done);
            if (o.terminal)
                wait_for_enter("Cannot take the storage lock: " + why);
            return 75;
        case Lock::Held:
            break;
        }
    }
    Record record;
    record.open(o, o.lock);

    // With the lock taken on the host, the error output goes to a file
    // that the unit reads, and on to the terminal from there.
    const int errFd = o.keepErrors || !o.hostLock.empty() ? error_file() : -1;
    HostLock hostLock;
    ErrorRelay relay(o.keepErrors ? -1 : 2, hostLock);
    const Ended fix = run(o.program.data(), o.terminal, o.terminal, errFd, true,
                          o.hostLock.empty() ? nullptr : &relay);
    if (!o.hostLock.empty() && fix.started && hostLock.said && !hostLock.held &&
        !hostLock.noFlock) {
        // The lock command ran and did not take the lock: fix_prot never
        // started, and there is nothing for a later run to finish.
        const bool busy =
            !fix.signalled && fix.code == hostlock::busyStatus && hostLock.fail.empty();
        std::string why = hostLock.fail;
        if (why.empty())
            why = first_line(read_back(errFd, 4096));
        if (why.empty())
            why = "the lock command ended with " + fix.text();
        if (!o.record.empty())
            ::unlink(o.record.c_str());
        if (busy)
            report(Verb::Busy, o.hostLock + ":" + hostLock.at);
        else
            report(Verb::NoLock, o.hostLock + ": " + why);
        report(Verb::Done);
        if (o.terminal)
            wait_for_enter(busy ? "Another repair of this view's storage is still at work on " +
                                      o.hostLock
                                : "Cannot take the storage lock on " + o.hostLock + ": " + why);
        return 75;
    }
    if (hostLock.noFlock)
        report(Verb::Unlocked,
               "no lock on " + o.hostLock + ": flock not found; locked on this workstation only");
    // The record first: a unit killed right after its report still leaves
    // a later run the truth of how fix_prot ended.
    namespace rec = tsy::unit::record;
    std::string rest =
        rec::line(rec::fixProt, fix.text()) + rec::line(rec::fixProtEnded, now_utc());
    record.write(rest);
    if (!fix.started) {
        report(Verb::Failed, fix.startError);
    } else {
        const std::string message = first_line(read_back(errFd, 4096));
        if (!message.empty())
            report(Verb::Message, message);
        report(fix.signalled ? Verb::Signal : Verb::Exit, fix.code);
    }
    if (errFd >= 0)
        ::close(errFd);

    Ended endview;
    std::string endviewError;
    const bool wantEndview =
        !o.endview.empty() && fix.started && (fix.succeeded() || o.endviewAfterFailure);
    if (wantEndview) {
        std::vector<char*> words = {o.endview.data(), const_cast<char*>("endview"),
                                    const_cast<char*>("-server"), o.tag.data(), nullptr};
        const int endErr = error_file();
        endview = run(words.data(), false, o.terminal, endErr, false);
        endviewError = read_back(endErr, 8192);
        if (endErr >= 0)
            ::close(endErr);
        if (!endviewError.empty()) {
            report(Verb::EndviewMessage, endviewError);
            if (o.terminal)
                std::fputs(endviewError.c_str(), stderr);
        }
        if (!endview.started)
            report(Verb::EndviewFailed, endview.startError);
        else
            report(endview.signalled ? Verb::EndviewSignal : Verb::EndviewExit, endview.code);
        rest += rec::line(rec::endview, endview.text());
        if (!endviewError.empty())
            rest += rec::line(rec::endviewMessage, endviewError);
    } else {
        rest += rec::line(rec::endview, "not run");
    }
    rest += rec::line(rec::ended, now_utc());
    record.write(rest);
    if (lockFd >= 0)
        ::close(lockFd);
    report(Verb::Done);
    if (g_report >= 0)
        ::close(g_report);

    if (!o.terminal)
        return fix.started ? (fix.signalled ? 128 + fix.code : fix.code) : 127;
    if (!fix.started) {
        std::fprintf(stderr, "tessaly-wrap: cannot run %s: %s\n", o.program[0],
                     std::strerror(fix.startError));
        wait_for_enter("The program could not be started");
        return 127;
    }
    std::string name = o.program[0];
    if (const std::size_t slash = name.rfind('/'); slash != std::string::npos)
        name = name.substr(slash + 1);
    if (fix.signalled) {
        wait_for_enter((o.remote ? name + " (fix_prot)" : std::string("fix_prot")) +
                       " ended on signal " + std::to_string(fix.code));
        return 128 + fix.code;
    }
    if (fix.code != 0) {
        if (o.remote && fix.code == 255)
            wait_for_enter(name + " could not reach the view's host (exit status 255)");
        else
            wait_for_enter("fix_prot failed with exit status " + std::to_string(fix.code));
        return fix.code;
    }
    if (wantEndview && !(endview.started && !endview.signalled && endview.code == 0))
        wait_for_enter("fix_prot succeeded, but endview failed (" + endview.text() + ")");
    return 0;
}
