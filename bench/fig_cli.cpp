// SPDX-License-Identifier: Apache-2.0
// Figure 2: loading through the simulator's cleartool, beside the listing
// command alone, so that Tessaly's own share of the time shows.
#include "figures.h"
#include "harness.h"
#include "ui.h"

#include "model/viewlistmodel.h"

#include <ccsim.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace tsy::bench {

void figure_cli() {
    const int n = smoke() ? 1000 : 32767;
    const int reps = smoke() ? 1 : 5;
    QTemporaryDir tmp;
    ccsim::Home home = ccsim::Home::create(tmp.path().toStdString() + "/cli home");
    ccsim::GenerateOptions opts;
    opts.storage = false;
    home.generate(n, opts);
    UseHome use(home.dir());

    // The listing command alone, its output read as the backend reads it.
    const QString cleartool = QString::fromStdString(home.cleartoolPath());
    qsizetype bytes = 0;
    const double lsview = median_ms(reps, [&] {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.start(cleartool, {QStringLiteral("lsview"), QStringLiteral("-long")});
        p.waitForFinished(-1);
        bytes = p.readAllStandardOutput().size();
        return ms_since(t);
    });

    double app = 0;
    int loaded = 0;
    {
        frmMain w;
        if (!w.Form_Load())
            qFatal("the main window did not load over the simulator home");
        w.show();
        settle();
        app = median_ms(reps, [&] {
            tsy::test::ui(w).viewsModel->clear();
            settle();
            QElapsedTimer t;
            t.start();
            w.loadViewsBut_Click();
            settle_window(w);
            const double ms = ms_since(t);
            loaded = tsy::test::ui(w).viewsModel->count();
            return ms;
        });
    }
    if (loaded != n)
        note(QStringLiteral("cleartool load of %1 views listed %2 lines").arg(n).arg(loaded));

    row(QStringLiteral("2. Load %1 views via ccsim cleartool (end to end)").arg(fmt_count(n)),
        fmt_ms(app), QString(),
        QStringLiteral("lsview alone is %1% of it").arg(fmt_num(100 * lsview / app, 0)), -1);
    row(QStringLiteral("2. cleartool lsview -long alone (%1 MB of output)")
            .arg(fmt_num(double(bytes) / 1e6, 1)),
        fmt_ms(lsview), QString(), QString(), -1);
    const double own = app - lsview;
    row(QStringLiteral("2. Tessaly's own share (end to end - lsview)"), fmt_ms(own),
        QStringLiteral("<= 100 ms"),
        QStringLiteral("%1% of end to end").arg(fmt_num(100 * own / app, 0)), own <= 100);
}

} // namespace tsy::bench
