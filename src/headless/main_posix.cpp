// SPDX-License-Identifier: Apache-2.0
// tessaly on POSIX: any option runs the headless face here; no option
// starts the window, which is a program of its own (tessaly-window), so
// that a listing or a repair from a script never loads the widget and
// window-system libraries: with their symbols bound at load, they cost a
// headless run more than its own work on a small region.

#include "headless/headless.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The directory of this program, from the kernel rather than argv[0].
std::string own_dir() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0)
        return std::string();
    path.resize(size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

int main(int argc, char** argv) {
    // A reader that went away is an error to handle where the write is
    // made, never a reason to die mid-run.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 1)
        return tsy::headless::run(argc, argv);

    // Beside this program in the build tree, in lib/tessaly once installed.
    // argv goes on unchanged: the window keeps the name it was started by.
    const std::string dir = own_dir();
    std::string tried;
    for (const char* rel : {"/tessaly-window", "/../lib/tessaly/tessaly-window"}) {
        const std::string path = dir + rel;
        if (access(path.c_str(), X_OK) != 0)
            continue;
        execv(path.c_str(), argv);
        std::fprintf(stderr, "tessaly: cannot start the window, %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 2;
    }
    std::fprintf(stderr,
                 "tessaly: the window program tessaly-window is neither beside %s/tessaly nor in "
                 "%s/../lib/tessaly; it comes with the package tessaly-gui (tessaly --list and "
                 "tessaly --repair work without it)\n",
                 dir.c_str(), dir.c_str());
    return 2;
}
