// SPDX-License-Identifier: Apache-2.0
// Stand-in for sudo, installed as <home>/var/ccsim/bin/sudo.
//
//   sudo [-n] [-E] [-H] [-u root] [--] COMMAND [ARG]...
//
// Runs COMMAND (searched in PATH) with CCSIM_ROOT=1, which is how the
// simulator's fix_prot knows it runs as root in strict mode. The
// sudo_password fault makes it ask for a password it cannot read: with -n,
// and without (no terminal is there to ask), it says one is required and
// exits 1. The sudo_allow=PROGRAM[,PROGRAM...] fault plays a sudoers rule
// that allows those programs alone (by their base names): any other
// command is refused the same way.
#include "internal.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

using namespace ccsim;
using namespace ccsim::detail;

namespace {

const char kUsage[] = "usage: sudo [-n] [-E] [-H] [-u root] [--] command [arg ...]\n";

int fail(const std::string& text, bool withUsage = false) {
    try {
        writeAll(2, "sudo: " + text + "\n" + (withUsage ? kUsage : ""));
    } catch (const Error&) {
    }
    return 1;
}

int run(int argc, char** argv) {
    const Paths paths{findHome(3)};
    appendJournal(paths.journal(), "sudo", argc, argv);
    const Faults faults = loadFaults(paths.faults());
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a.size() < 2 || a[0] != '-')
            break;
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "-u") {
            if (++i >= argc)
                return fail("option requires an argument -- 'u'", true);
            if (std::string_view(argv[i]) != "root")
                return fail("the simulator runs commands as root only, not as " +
                            std::string(argv[i]));
            continue;
        }
        for (const char f : a.substr(1))
            if (f != 'n' && f != 'E' && f != 'H')
                return fail(std::string("invalid option -- '") + f + "'", true);
    }
    if (i >= argc)
        return fail("no command given", true);
    if (faults.get("sudo_password"))
        return fail("a password is required");
    if (const std::string* allowed = faults.get("sudo_allow")) {
        // As a sudoers rule that names programs: any other is refused.
        const std::string_view program = argv[i];
        const std::size_t slash = program.rfind('/');
        const std::string base(slash == std::string_view::npos ? program
                                                               : program.substr(slash + 1));
        if (("," + *allowed + ",").find("," + base + ",") == std::string::npos) {
            std::string line;
            for (int k = i; k < argc; ++k)
                line += (k > i ? " " : "") + std::string(argv[k]);
            return fail("a password is required (no rule allows " + printable(line) + ")");
        }
    }
    ::setenv(kRootEnv, "1", 1);
    ::execvp(argv[i], argv + i);
    const int err = errno;
    return fail(std::string(argv[i]) + ": " +
                (err == ENOENT ? std::string("command not found") : errnoText(err)));
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
