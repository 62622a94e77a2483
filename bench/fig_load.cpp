// SPDX-License-Identifier: Apache-2.0
// Figures 1 and 7: loading views through the in-process fake ClearCase.
#include "baselines.h"
#include "figures.h"
#include "harness.h"
#include "ui.h"

#include "common/yield.h"
#include "model/viewlistmodel.h"
#include "progress/frmprogress.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace tsy::bench {

FakeMain::FakeMain() : backend(std::make_shared<test::FakeBackend>()) {
    w = std::make_unique<frmMain>(backend);
    if (!w->Form_Load())
        qFatal("the main window did not load over the fake backend");
    w->show();
    settle();
}

FakeMain::~FakeMain() {
    w.reset();
}

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

namespace {
// The per-view part of a load without the list: one yield and one
// progress text per view, as the loader does. With throttle the text is
// changed at most every 16 ms (one frame), the yields stay one per view.
double yield_loop(ProgressSink& progress, int n, bool throttle) {
    progress.start_progress(QStringLiteral("Loading all views..."));
    do_events();
    QElapsedTimer t;
    t.start();
    QElapsedTimer last;
    last.start();
    for (int i = 0; i < n; ++i) {
        do_events();
        if (!throttle || last.elapsed() >= 16) {
            progress.set_msg(QStringLiteral("Loading --> view%1").arg(i, 6, 10, QLatin1Char('0')));
            last.restart();
        }
    }
    const double ms = ms_since(t);
    progress.stop_progress();
    return ms;
}

QString load_name(int n, const char* how) {
    return QStringLiteral("1. Load %1 views, %2").arg(fmt_count(n), QLatin1StringView(how));
}
} // namespace

void figure_load() {
    const std::vector<int> sizes =
        smoke() ? std::vector<int>{1000} : std::vector<int>{1000, 32767, 100000};
    FakeMain f;
    double scanAtMid = -1;
    for (const int n : sizes) {
        f.backend->state().views = test::make_fake_views(n);
        const int reps = smoke() ? 1 : (n <= 1000 ? 7 : n <= 32767 ? 5 : 3);
        int loaded = 0;
        const double fast = median_ms(reps, [&] {
            tsy::test::ui(*f.w).viewsModel->clear();
            settle();
            QElapsedTimer t;
            t.start();
            f.w->loadViewsBut_Click();
            tsy::test::settle(*f.w);
            const double ms = ms_since(t);
            loaded = tsy::test::ui(*f.w).viewsModel->count();
            return ms;
        });
        if (loaded != n)
            note(QStringLiteral("load of %1 views listed %2 lines").arg(n).arg(loaded));

        // The scan is quadratic: run it where it ends in seconds.
        double scan = -1;
        if (n <= 32767) {
            const int scanReps = smoke() ? 1 : (n <= 1000 ? 5 : 1);
            scan = median_ms(scanReps, [&] {
                settle();
                QElapsedTimer t;
                t.start();
                naive_load(*f.w, *f.backend);
                const double ms = ms_since(t);
                loaded = tsy::test::ui(*f.w).viewsModel->count();
                return ms;
            });
            if (loaded != n)
                note(QStringLiteral("scan load of %1 views listed %2 lines").arg(n).arg(loaded));
            if (n == 32767)
                scanAtMid = scan;
        }

        const QString ratio =
            scan > 0
                ? QStringLiteral("scan %1 = %2x slower").arg(fmt_ms(scan), fmt_num(scan / fast, 1))
                : QString();
        if (n == 32767) {
            row(load_name(n, "progress window and yields"), fmt_ms(fast),
                QStringLiteral("<= 0.3 s"), ratio, fast <= 300);
            row(QStringLiteral("1. Speed-up over the linear scan at 32,767"),
                fmt_num(scan / fast, 1) + QStringLiteral("x"), QStringLiteral(">= 20x"),
                QStringLiteral("scan %1 (1 run)").arg(fmt_ms(scan)), scan / fast >= 20);
        } else if (n == 100000) {
            QString r = QStringLiteral("scan not run");
            if (scanAtMid > 0) {
                const double est = scanAtMid * (100000.0 / 32767) * (100000.0 / 32767);
                r += QStringLiteral(" (quadratic: ~%1 est.)").arg(fmt_ms(est));
            }
            row(load_name(n, "progress window and yields"), fmt_ms(fast),
                QStringLiteral("<= 250 ms"), r, fast <= 250);
            // Where the time goes: the yields and progress texts alone, and
            // the same with the text changed once a frame.
            const double yields =
                median_ms(reps, [&] { return yield_loop(f.w->progress(), n, false); });
            const double framed =
                median_ms(reps, [&] { return yield_loop(f.w->progress(), n, true); });
            row(QStringLiteral("1. ... of which: 100,000 yields + progress texts alone"),
                fmt_ms(yields), QString(),
                QStringLiteral("%1% of the load").arg(fmt_num(100 * yields / fast, 0)), -1);
            row(QStringLiteral("1. ... same yields, text changed once per 16 ms"), fmt_ms(framed),
                QString(), QStringLiteral("%1x less").arg(fmt_num(yields / framed, 1)), -1);
        } else {
            row(load_name(n, "progress window and yields"), fmt_ms(fast), QString(), ratio, -1);
        }
    }
}

void figure_memory() {
    const int n = smoke() ? 1000 : 100000;
    FakeMain f;
    f.backend->state().views = test::make_fake_views(n);
    settle();
    const double before = proc_status_mib("VmRSS");
    f.w->loadViewsBut_Click();
    tsy::test::settle(*f.w);
    settle();
    const double peak = proc_status_mib("VmHWM");
    const double after = proc_status_mib("VmRSS");
    if (tsy::test::ui(*f.w).viewsModel->count() != n)
        note(QStringLiteral("memory figure: %1 of %2 views listed")
                 .arg(tsy::test::ui(*f.w).viewsModel->count())
                 .arg(n));
    row(QStringLiteral("7. Peak RSS (VmHWM), %1 views loaded").arg(fmt_count(n)),
        fmt_num(peak, 1) + QStringLiteral(" MiB"), QStringLiteral("<= 150 MB (143 MiB)"),
        QStringLiteral("before load %1 MiB; after %2 MiB")
            .arg(fmt_num(before, 1), fmt_num(after, 1)),
        peak <= 150.0 * 1e6 / (1024.0 * 1024.0));
    const double growth = peak - before;
    row(QStringLiteral("7. Peak RSS growth while loading %1 views").arg(fmt_count(n)),
        fmt_num(growth, 1) + QStringLiteral(" MiB"), QStringLiteral("<= 10 MiB"),
        QStringLiteral("%1 bytes a view").arg(fmt_num(growth * 1024 * 1024 / n, 0)),
        growth <= 10.0);
    row(QStringLiteral("7. RSS before loading (window + fake views)"),
        fmt_num(before, 1) + QStringLiteral(" MiB"), QString(), QString(), -1);
}

} // namespace tsy::bench
