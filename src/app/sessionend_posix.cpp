#include "sessionend.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tsy {

namespace {
int g_pipe[2] = {-1, -1};

void on_signal(int) {
    const char c = 1;
    // Only async-signal-safe work here: wake the event loop.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
}
} // namespace

void close_windows_on_session_end(QWidget* mainWindow) {
    if (g_pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, mainWindow);
    QPointer<QWidget> target(mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, mainWindow, [target] {
        char buf[16];
        [[maybe_unused]] const ssize_t n = ::read(g_pipe[0], buf, sizeof buf);
        if (target)
            target->close();
    });
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(sig, &sa, nullptr);
}

} // namespace tsy
