// tessaly-wrap: runs one program inside a terminal window on Tessaly's
// behalf and reports back, over a FIFO Tessaly owns, that it started and
// how it ended. Tessaly then waits for the program itself, whatever the
// terminal's launcher does. When the program fails, the window stays open
// until Enter is pressed so that its output can be read.
//
//   tessaly-wrap --report FIFO -- PROGRAM [ARGS...]
//
// Lines written to FIFO: "started PID", then "exit N" or "signal N", or
// "failed ERRNO" when PROGRAM could not be executed.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void report(int fd, const std::string& line) {
    if (fd < 0)
        return;
    const std::string text = line + "\n";
    // One write: lines of a FIFO under PIPE_BUF bytes arrive whole.
    [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
}

void wait_for_enter(const std::string& what) {
    std::fprintf(stderr, "\n%s. Press Enter to close this window.\n", what.c_str());
    if (!::isatty(0))
        return;
    char c = 0;
    while (::read(0, &c, 1) == 1 && c != '\n') {
    }
}

} // namespace

int main(int argc, char** argv) {
    const char* fifo = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--report" && i + 1 < argc) {
            fifo = argv[++i];
        } else if (a == "--") {
            ++i;
            break;
        } else {
            std::fprintf(stderr, "tessaly-wrap: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: tessaly-wrap --report FIFO -- PROGRAM [ARGS...]\n");
        return 2;
    }
    // A closed terminal window must not end the repair, and a reader that
    // went away must not end the wrapper.
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    // Never blocks: without a reader the program still runs, unreported.
    int fd = fifo ? ::open(fifo, O_WRONLY | O_NONBLOCK) : -1;
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) {
        report(fd, "failed " + std::to_string(errno));
        return 127;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        report(fd, "failed " + std::to_string(errno));
        return 127;
    }
    if (child == 0) {
        ::close(pipefd[0]);
        ::execvp(argv[i], argv + i);
        const int e = errno;
        [[maybe_unused]] const ssize_t n = ::write(pipefd[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(pipefd[1]);
    int execError = 0;
    const bool failedExec = ::read(pipefd[0], &execError, sizeof execError) == sizeof execError;
    ::close(pipefd[0]);
    int status = 0;
    if (failedExec) {
        ::waitpid(child, &status, 0);
        report(fd, "failed " + std::to_string(execError));
        std::fprintf(stderr, "tessaly-wrap: cannot run %s: %s\n", argv[i],
                     std::strerror(execError));
        wait_for_enter("The program could not be started");
        return 127;
    }
    report(fd, "started " + std::to_string(child));
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        report(fd, "signal " + std::to_string(WTERMSIG(status)));
        wait_for_enter(std::string(argv[i]) + " ended on signal " +
                       std::to_string(WTERMSIG(status)));
        return 128 + WTERMSIG(status);
    }
    const int code = WEXITSTATUS(status);
    report(fd, "exit " + std::to_string(code));
    if (code != 0)
        wait_for_enter(std::string(argv[i]) + " failed with exit status " + std::to_string(code));
    return code;
}
