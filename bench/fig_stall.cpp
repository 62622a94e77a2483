// SPDX-License-Identifier: Apache-2.0
// Figure 8: the longest time the window's event loop went without turning,
// seen by a probe timer, while Load waits on a slow cleartool listing and
// while Execute waits on slow lookups; beside the same listing read by a
// blocking wait, which stalls for the whole call.
#include "figures.h"
#include "harness.h"
#include "ui.h"

#include "model/viewlistmodel.h"
#include "simhome.h"

#include <ccsim.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

namespace tsy::bench {

namespace {

constexpr int kProbeMs = 5;

// Fires every kProbeMs and keeps the longest gap between two firings,
// less the interval: how long the loop was kept from its timers.
class StallProbe {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kProbeMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_worst = std::max(m_worst, ms_since(m_since) - kProbeMs);
            m_since.restart();
            ++m_ticks;
        });
    }
    void start() {
        m_worst = 0;
        m_ticks = 0;
        m_since.start();
        m_timer.start();
    }
    // The worst gap, the time since the last firing included.
    double stop() {
        m_timer.stop();
        return std::max(m_worst, ms_since(m_since) - kProbeMs);
    }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    double m_worst = 0;
    int m_ticks = 0;
};

} // namespace

void figure_stall() {
    const int listingMs = smoke() ? 300 : 3000;
    const int lookupMs = smoke() ? 100 : 1000;
    const int views = smoke() ? 100 : 2000;
    const int runViews = smoke() ? 2 : 3;
    QTemporaryDir tmp;
    ccsim::Home home = ccsim::Home::create(tmp.path().toStdString() + "/stall home");
    ccsim::GenerateOptions opts;
    opts.storage = false;
    home.generate(views, opts);
    UseHome use(home.dir());

    frmMain w;
    if (!w.Form_Load())
        qFatal("the main window did not load over the simulator home");
    w.show();
    settle();
    StallProbe probe;

    // Load: the listing trickles out over listingMs.
    home.setFault("slow_listing_ms", std::to_string(listingMs));
    tsy::test::ui(w).viewsModel->clear();
    settle();
    QElapsedTimer t;
    t.start();
    probe.start();
    w.loadViewsBut_Click();
    settle_window(w);
    const double loadStall = probe.stop();
    const double loadMs = ms_since(t);
    if (tsy::test::ui(w).viewsModel->count() != views)
        note(QStringLiteral("8: the slow load listed %1 of %2 views")
                 .arg(tsy::test::ui(w).viewsModel->count())
                 .arg(views));

    // The same listing through a blocking wait on this thread.
    probe.start();
    {
        QProcess p;
        p.start(QString::fromStdString(home.cleartoolPath()),
                {QStringLiteral("lsview"), QStringLiteral("-long")});
        p.waitForFinished(-1);
        p.readAllStandardOutput();
    }
    const double blockingStall = probe.stop();
    home.clearFaults();

    // Execute over a few views whose every cleartool call takes lookupMs,
    // in a window of its own over a home whose views have storage.
    ccsim::Home runHome = ccsim::Home::create(tmp.path().toStdString() + "/stall run home");
    runHome.setStrict(true);
    runHome.generate(runViews);
    UseHome useRun(runHome.dir());
    const test::StandIns standIns(runHome);
    frmMain rw;
    if (!rw.Form_Load())
        qFatal("the main window did not load over the simulator home");
    rw.show();
    settle();
    rw.loadViewsBut_Click();
    tsy::test::settle(rw);
    tsy::test::ui(rw).runModeCombo->setCurrentIndex(
        tsy::test::ui(rw).runModeCombo->findText(QStringLiteral("Hide")));
    rw.runModeCombo_Click();
    rw.selectAllBut_Click();
    runHome.breakStorage();
    runHome.setFault("slow_ms", std::to_string(lookupMs));
    t.restart();
    probe.start();
    rw.executeFixProtBut_Click();
    tsy::test::settle(rw);
    const double runStall = probe.stop();
    const double runMs = ms_since(t);
    int unfixed = 0;
    for (const ccsim::View& v : runHome.views())
        unfixed += runHome.storageFixed(v.tag) ? 0 : 1;
    if (unfixed)
        note(QStringLiteral("8: %1 of %2 views were not repaired by the slow run")
                 .arg(unfixed)
                 .arg(runViews));

    row(QStringLiteral("8. Longest event-loop stall: Load, cleartool lists over %1 s")
            .arg(fmt_num(listingMs / 1000.0, 1)),
        fmt_ms(loadStall), QStringLiteral("<= 50 ms"),
        QStringLiteral("blocking wait stalls %1 = %2x longer")
            .arg(fmt_ms(blockingStall), fmt_num(blockingStall / std::max(loadStall, 0.1), 0)),
        loadStall <= 50);
    row(QStringLiteral("8. Longest event-loop stall: Execute, %1 views, %2 s per cleartool call")
            .arg(runViews)
            .arg(fmt_num(lookupMs / 1000.0, 1)),
        fmt_ms(runStall), QStringLiteral("<= 50 ms"),
        QStringLiteral("the run took %1").arg(fmt_ms(runMs)), runStall <= 50);
    note(QStringLiteral("8: the slow load took %1; the probe fires every %2 ms")
             .arg(fmt_ms(loadMs))
             .arg(kProbeMs));
}

} // namespace tsy::bench
