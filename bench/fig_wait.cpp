// SPDX-License-Identifier: Apache-2.0
// Figure 3: the CPU this process spends while it waits for fix_prot with
// the progress window shown, beside a wait that polls without pause.
#include "figures.h"
#include "harness.h"

#include "app/repairrun.h"
#include "progress/frmprogress.h"
#include "repair/fixprot.h"
#include "repair/launcher.h"

#include <ccsim.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tsy::bench {

using repair::Launch;
using repair::RunMode;

namespace {

struct Share {
    double cpuMs = 0;
    double wallMs = 0;
    int ticks = 0; // progress bar steps seen: the window stayed live
    double percent() const { return wallMs > 0 ? 100.0 * cpuMs / wallMs : 0; }
};

// With window, the wait is measured with the progress window shown, as a
// run shows the one its main window keeps from one use to the next.
template <class Wait>
Share measure_share(ProgressWindow& progress, Wait&& wait, bool window = true) {
    if (window)
        progress.start_progress(QStringLiteral("Executing..."));
    QCoreApplication::processEvents();
    int ticks = 0;
    QMetaObject::Connection counting;
    if (window) {
        QTimer* timer = progress.window()->progressTimer;
        counting = QObject::connect(timer, &QTimer::timeout, timer, [&] { ++ticks; });
    }
    const double cpu0 = self_cpu_ms();
    QElapsedTimer t;
    t.start();
    wait();
    Share s;
    s.wallMs = ms_since(t);
    s.cpuMs = self_cpu_ms() - cpu0;
    s.ticks = ticks;
    QObject::disconnect(counting);
    if (window)
        progress.stop_progress();
    return s;
}

// What a wait built on polling the child's state does: handle the pending
// window events, ask whether the child is still there, and go round again.
void busy_poll_wait(const QStringList& words) {
    std::vector<QByteArray> store;
    for (const QString& w : words)
        store.push_back(QFile::encodeName(w));
    std::vector<char*> argv;
    for (QByteArray& b : store)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        note(QStringLiteral("busy-poll baseline: cannot start %1").arg(words.value(0)));
        return;
    }
    int status = 0;
    for (;;) {
        QCoreApplication::processEvents();
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            break;
    }
}

} // namespace

void figure_wait() {
    const int sleepMs = smoke() ? 300 : 3000;
    const int pollMs = smoke() ? 300 : 1000;
    const int reps = smoke() ? 1 : 3;
    QTemporaryDir tmp;
    ccsim::Home home = ccsim::Home::create(tmp.path().toStdString() + "/wait home");
    ccsim::View v;
    v.tag = "waitview";
    v.host = "ccview01";
    v = home.addView(v);
    const QString cmd = fix_prot_command_line(QString::fromStdString(home.fixProtPath()),
                                              repair::default_args(cc::FixProtStyle::Windows),
                                              QString::fromStdString(v.storage));

    home.setFault("fixprot_sleep_ms", std::to_string(sleepMs));
    const auto eventWait = [&] {
        const QStringList w = QProcess::splitCommand(cmd);
        QEventLoop loop;
        Launch* l = Launch::start({w.first(), w.mid(1), RunMode::Hide});
        QObject::connect(l, &Launch::ended, &loop, &QEventLoop::quit);
        QObject::connect(l, &Launch::failedToStart, &loop, &QEventLoop::quit);
        loop.exec();
        delete l;
    };
    ProgressWindow progress;
    std::vector<Share> waits, bare;
    for (int i = 0; i < reps; ++i) {
        waits.push_back(measure_share(progress, eventWait));
        bare.push_back(measure_share(progress, eventWait, false));
    }

    home.setFault("fixprot_sleep_ms", std::to_string(pollMs));
    std::vector<Share> polls;
    const QStringList words = QProcess::splitCommand(cmd);
    for (int i = 0; i < reps; ++i)
        polls.push_back(measure_share(progress, [&] { busy_poll_wait(words); }));

    const auto med = [](const std::vector<Share>& v, auto field) {
        std::vector<double> x;
        for (const Share& s : v)
            x.push_back(field(s));
        return median_of(x);
    };
    const double share = med(waits, [](const Share& s) { return s.percent(); });
    const double wall = med(waits, [](const Share& s) { return s.wallMs; });
    const double ticks = med(waits, [](const Share& s) { return double(s.ticks); });
    const double pollShare = med(polls, [](const Share& s) { return s.percent(); });
    const double bareShare = med(bare, [](const Share& s) { return s.percent(); });
    row(QStringLiteral("3. CPU share waiting on a %1 s fix_prot (event wait)")
            .arg(fmt_num(sleepMs / 1000.0, 1)),
        fmt_num(share, 2) + QStringLiteral(" %"), QStringLiteral("<= 1 %"),
        QStringLiteral("busy poll %1 % = %2x more")
            .arg(fmt_num(pollShare, 1), fmt_num(pollShare / std::max(share, 0.01), 0)),
        share <= 1.0);
    row(QStringLiteral("3. ... the same wait with no progress window"),
        fmt_num(bareShare, 2) + QStringLiteral(" %"), QString(),
        QStringLiteral("the window adds %1 points").arg(fmt_num(share - bareShare, 2)), -1);
    row(QStringLiteral("3. Busy-poll wait (processEvents + waitpid), %1 s")
            .arg(fmt_num(pollMs / 1000.0, 1)),
        fmt_num(pollShare, 1) + QStringLiteral(" %"), QString(), QString(), -1);
    note(QStringLiteral("3: the event wait lasted %1; the progress timer ticked %2 times meanwhile")
             .arg(fmt_ms(wall))
             .arg(int(ticks)));
}

} // namespace tsy::bench
