// SPDX-License-Identifier: Apache-2.0
// Stand-in for ssh, installed as <home>/var/ccsim/bin/ssh (never in bin/,
// which holds only what a ClearCase installation has).
//
//   ssh [-o OPTION]... [-n] [-T] [-q] [-l USER] [-p PORT] [-i FILE] [USER@]HOST COMMAND...
//   ssh [-o OPTION]... -O COMMAND HOST
//
// It makes no connection master: -O (ControlMaster's control commands)
// answers as OpenSSH does for a host without one, with status 255.
// As real ssh does, the command words are joined with blanks into one string
// that the "remote" side runs with /bin/sh -c, so quoting done by the caller
// for a POSIX shell is undone exactly once. The remote side is the same
// machine with CCSIM_HOST=HOST set (and CCSIM_ROOT=0: the remote account
// is not root), and with the home's var/ccsim/bin first in PATH, so
// a bare `sudo` there is the stand-in. Host names must be a registered view's
// host, the home's local host or "localhost"; other names do not resolve.
// As OpenSSH does, it closes every inherited descriptor above 2.
//
// Each host keeps its own storage locks: the remote side gets
// TESSALY_HOST_LOCK_DIR=<home>/var/ccsim/hosts/HOST/locks (the parent is
// made, the directory itself is left to the lock command). The fault
// no_flock=HOST[,HOST...] takes flock(1) off PATH on those hosts.
#include "internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ccsim;
using namespace ccsim::detail;

namespace {

int fail(const std::string& text) {
    try {
        writeAll(2, "ssh: " + text + "\n");
    } catch (const Error&) {
    }
    return 255;
}

bool listedHost(const std::string& list, const std::string& host) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        if (list.compare(start, comma - start, host) == 0)
            return true;
        start = comma + 1;
    }
    return false;
}

// dir, or a copy of it without flock (links to everything else), made
// once under noFlockRoot and reused.
std::string withoutFlock(const std::string& dir, const std::string& noFlockRoot) {
    if (::access((dir + "/flock").c_str(), X_OK) != 0)
        return dir;
    std::string name = dir;
    for (char& c : name)
        if (c == '/')
            c = '_';
    const std::string copy = noFlockRoot + "/" + name;
    struct stat st {};
    if (::stat(copy.c_str(), &st) == 0)
        return copy;
    ::mkdir(noFlockRoot.c_str(), 0755);
    const std::string building = copy + "." + std::to_string(::getpid());
    if (::mkdir(building.c_str(), 0755) != 0)
        return dir;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string entry = e->d_name;
            if (entry != "." && entry != ".." && entry != "flock") [[maybe_unused]]
                const int r =
                    ::symlink((dir + "/" + entry).c_str(), (building + "/" + entry).c_str());
        }
        ::closedir(d);
    }
    if (::rename(building.c_str(), copy.c_str()) != 0) {
        // Another call made it first.
        const std::string cleanup = "rm -rf '" + building + "'";
        [[maybe_unused]] const int r = std::system(cleanup.c_str());
    }
    return copy;
}

int run(int argc, char** argv) {
    const Paths paths{findHome(3)};
    appendJournal(paths.journal(), "ssh", argc, argv);
    const Faults faults = loadFaults(paths.faults());

    bool noStdin = false;
    std::string control;     // -O's command
    std::string controlPath; // -o ControlPath=
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a.size() < 2 || a[0] != '-')
            break;
        if (a == "--") {
            ++i;
            break;
        }
        // Options with a value, given apart (-o X) or glued (-oX).
        if (a[1] == 'o' || a[1] == 'l' || a[1] == 'p' || a[1] == 'i' || a[1] == 'F' ||
            a[1] == 'O') {
            if (a.size() == 2 && ++i >= argc)
                return fail(std::string("option requires an argument -- ") + a[1]);
            const std::string value = a.size() == 2 ? argv[i] : std::string(a.substr(2));
            if (a[1] == 'O')
                control = value;
            else if (a[1] == 'o' && value.compare(0, 12, "ControlPath=") == 0 &&
                     controlPath.empty())
                controlPath = value.substr(12);
            continue;
        }
        for (const char f : a.substr(1)) {
            if (f == 'n')
                noStdin = true;
            else if (std::string_view("TtqxvCA46").find(f) == std::string_view::npos)
                return fail(std::string("illegal option -- ") + f);
        }
    }
    // No master is ever made here: a control command finds none, as
    // OpenSSH's finds none for a host it has no connection to.
    if (!control.empty()) {
        if (controlPath.empty())
            return fail("No ControlPath specified for \"-O\" command");
        return fail("Control socket connect(" + controlPath + "): No such file or directory");
    }
    if (i >= argc)
        return fail("no host given\nusage: ssh [-n] [-o option] destination command ...");
    std::string host = argv[i++];
    if (const std::size_t at = host.rfind('@'); at != std::string::npos)
        host = host.substr(at + 1);
    if (i >= argc)
        return fail("no command given (the simulated hosts have no interactive login)");
    std::string command;
    for (; i < argc; ++i) {
        if (!command.empty())
            command += ' ';
        command += argv[i];
    }

    std::uint64_t delay = 0;
    if (const std::string* v = faults.get("ssh_delay_ms"))
        parseUint(*v, delay);
    if (delay)
        sleepMs(delay);
    const std::string local = localHost(paths);
    std::string remote = host;
    if (host == "localhost" || host == systemHostName(false) || host == systemHostName(true))
        remote = local;
    bool known = remote == local;
    if (!known) {
        const Registry reg = loadRegistry(paths.registry());
        for (const Record& r : reg.records)
            if (r.host == remote) {
                known = true;
                break;
            }
    }
    if (!known)
        return fail("Could not resolve hostname " + host + ": Name or service not known");
    if (const std::string* v = faults.get("ssh_unreachable"); v && listedHost(*v, remote)) {
        // ssh_timeout_ms stands for ssh's ConnectTimeout: the time a
        // connection to a silent host takes to give up.
        std::uint64_t timeout = 0;
        if (const std::string* t = faults.get("ssh_timeout_ms"))
            parseUint(*t, timeout);
        if (timeout)
            sleepMs(timeout);
        return fail("connect to host " + host + " port 22: Connection timed out");
    }

    if (const std::string* v = faults.get("ssh_hang"); v && listedHost(*v, remote))
        sleepMs(3600'000);

    // OpenSSH closes every descriptor above 2 as it starts: nothing the
    // caller hands down (a lock, a pipe) reaches the remote command.
    if (!faults.get("ssh_keep_fds") && ::close_range(3, ~0U, 0) != 0) {
        const int most = int(::sysconf(_SC_OPEN_MAX));
        for (int fd = 3; fd < (most > 0 && most < 65536 ? most : 65536); ++fd)
            ::close(fd);
    }
    ::setenv(kHostEnv, remote.c_str(), 1);
    ::setenv(kRootEnv, "0", 1);
    const std::string locks = paths.hostLocks(remote);
    ::mkdir((paths.var() + "/hosts").c_str(), 0755);
    ::mkdir(locks.substr(0, locks.rfind('/')).c_str(), 0755);
    ::setenv("TESSALY_HOST_LOCK_DIR", locks.c_str(), 1);
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "/usr/bin:/bin";
    if (const std::string* v = faults.get("no_flock"); v && listedHost(*v, remote)) {
        std::string filtered;
        std::size_t start = 0;
        while (start <= rest.size()) {
            std::size_t colon = rest.find(':', start);
            if (colon == std::string::npos)
                colon = rest.size();
            const std::string dir = rest.substr(start, colon - start);
            if (!dir.empty()) {
                if (!filtered.empty())
                    filtered += ':';
                filtered += withoutFlock(dir, paths.noFlock());
            }
            start = colon + 1;
        }
        rest = filtered;
    }
    const std::string newPath = paths.bin() + ":" + rest;
    ::setenv("PATH", newPath.c_str(), 1);
    if (noStdin) {
        const int fd = ::open("/dev/null", O_RDONLY);
        if (fd >= 0 && fd != 0) {
            ::dup2(fd, 0);
            ::close(fd);
        }
    }
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    return fail("cannot run /bin/sh on " + host + ": " + errnoText(errno));
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
