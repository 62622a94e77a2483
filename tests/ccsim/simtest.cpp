// SPDX-License-Identifier: Apache-2.0
#include "simtest.h"

#include "internal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace simtest {

Result run(const std::string& program, const std::vector<std::string>& args, int timeoutMs) {
    Result r;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return r;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (rc != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
        return r;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int openCount = 2;
    while (openCount > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        const int n = ::poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[65536];
            const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(got));
                if (i == 0)
                    r.outPieces.emplace_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count(),
                                             static_cast<std::size_t>(got));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --openCount;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st)) {
        r.status = WEXITSTATUS(st);
    } else if (WIFSIGNALED(st)) {
        r.signal = WTERMSIG(st);
    }
    return r;
}

std::string slurp(const std::string& path) {
    std::string s;
    ccsim::detail::readFileIfExists(path, s);
    return s;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

void SimTest::SetUp() {
    char tmpl[] = "/tmp/ccsim test.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    tmp_ = ccsim::detail::realPath(tmpl);
    home_ = std::make_unique<ccsim::Home>(ccsim::Home::create(tmp_ + "/clear case home"));
}

void SimTest::TearDown() {
    home_.reset();
    ccsim::detail::removeTree(tmp_);
}

Result SimTest::ct(const std::vector<std::string>& args, int timeoutMs) const {
    return run(home_->cleartoolPath(), args, timeoutMs);
}

Result SimTest::fixProt(const std::vector<std::string>& args, int timeoutMs) const {
    return run(home_->fixProtPath(), args, timeoutMs);
}

Result SimTest::tool(const std::vector<std::string>& args, int timeoutMs) const {
    return run(CCSIM_TOOL_PATH, args, timeoutMs);
}

ccsim::View SimTest::add(const std::string& tag, const std::string& host, bool active,
                         bool snapshot, bool ucm) {
    ccsim::View v;
    v.tag = tag;
    v.host = host;
    v.active = active;
    v.snapshot = snapshot;
    v.ucm = ucm;
    return home_->addView(v);
}

} // namespace simtest
