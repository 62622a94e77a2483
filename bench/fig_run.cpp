// SPDX-License-Identifier: Apache-2.0
// Figure 4: what Execute costs per view beyond the programs it starts: as
// UNIX ClearCase wants it, the lookup, the view's facts (host, host-local
// path, owner and group), fix_prot on the view's host through the remote
// shell and sudo, then endview.
#include "figures.h"
#include "harness.h"
#include "ui.h"

#include "app/repairrun.h"
#include "model/viewlistmodel.h"
#include "repair/factbatch.h"
#include "repair/fixprot.h"
#include "repair/launcher.h"
#include "repair/runlocks.h"
#include "simhome.h"

#include <ccsim.h>

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <map>
#include <utility>

namespace tsy::bench {

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void run_direct(const QString& program, const QStringList& args, bool readOutput) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    if (!readOutput) {
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
    }
    p.start(program, args);
    p.waitForFinished(-1);
    if (readOutput)
        p.readAllStandardOutput();
}
} // namespace

void direct_starts(const ccsim::Home& home, const std::vector<ccsim::View>& views, bool batched,
                   bool locked) {
    const repair::Reach reach = repair::reach_from_environment();
    const QString cleartool = q(home.cleartoolPath());
    const QString fixProt = q(home.fixProtPath());
    const QStringList fixArgs =
        repair::argument_words(repair::default_args(cc::FixProtStyle::Unix).trimmed());
    const QStringList longRecords{QStringLiteral("lsview"), QStringLiteral("-long"),
                                  QStringLiteral("-properties"), QStringLiteral("-full")};
    if (batched) {
        // As a headless run asks them: each host's views in batches.
        std::map<std::string, QStringList> byHost;
        for (const ccsim::View& v : views) {
            QStringList& tags = byHost[v.host];
            tags.append(q(v.tag));
            if (tags.size() == repair::FactBatches::kBatch)
                run_direct(cleartool, longRecords + std::exchange(tags, {}), true);
        }
        for (const auto& [host, tags] : byHost)
            if (!tags.isEmpty())
                run_direct(cleartool, longRecords + tags, true);
    }
    for (const ccsim::View& v : views) {
        if (!batched) {
            run_direct(cleartool, {QStringLiteral("lsview"), q(v.tag)}, true);
            run_direct(cleartool, longRecords + QStringList{q(v.tag)}, true);
        }
        QStringList args = fixArgs;
        repair::fill_placeholders(args, q(v.owner), q(v.group));
        const QStringList fix = QStringList{fixProt} + args + QStringList{q(v.storage)};
        // As the repair unit runs it: with the storage's lock on its host
        // taken around it, or (locked false) without.
        const QStringList words =
            locked ? repair::locked_command_on_host(reach, q(v.host), repair::host_lock_dir(),
                                                    repair::host_lock_name(q(v.storage)), fix)
                   : repair::command_on_host(reach, q(v.host), fix);
        run_direct(words.first(), words.mid(1), false);
        run_direct(cleartool, {QStringLiteral("endview"), QStringLiteral("-server"), q(v.tag)},
                   true);
    }
}

// What the repair unit adds to one view: a program started through it
// (lock, record and reports included) beside the same program started
// directly, per start.
std::pair<double, double> unit_cost_ms(int n) {
    // In the runtime directory, where a unit keeps its record (in memory on
    // a login session's /run/user/UID, as bench.sh sets it).
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QTemporaryDir dir(runtime.isEmpty() ? QDir::tempPath() + QStringLiteral("/unit-XXXXXX")
                                        : runtime + QStringLiteral("/unit-XXXXXX"));
    const QString lock = dir.filePath(QStringLiteral("lock"));
    const QString record = dir.filePath(QStringLiteral("record"));
    const QString truth = QStringLiteral("/bin/true");
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        run_direct(truth, {}, false);
    const double direct = ms_since(t);
    t.restart();
    for (int i = 0; i < n; ++i)
        run_direct(repair::wrapper_path(),
                   {QStringLiteral("--report"), QStringLiteral("-"), QStringLiteral("--lock"), lock,
                    QStringLiteral("--record"), record, QStringLiteral("--keep-errors"),
                    QStringLiteral("--"), truth},
                   true);
    return {(ms_since(t) - direct) / n, direct / n};
}

void figure_run() {
    const int n = smoke() ? 10 : 200;
    const int reps = smoke() ? 1 : 3;
    QTemporaryDir tmp;
    ccsim::Home home = ccsim::Home::create(tmp.path().toStdString() + "/run home");
    home.setStrict(true);
    home.generate(n);
    const test::StandIns standIns(home);
    const std::vector<ccsim::View> views = home.views();
    const QByteArray saved = qgetenv("CLEARCASEHOME");
    qputenv("CLEARCASEHOME", QByteArray::fromStdString(home.dir()));

    frmMain w;
    if (!w.Form_Load())
        qFatal("the main window did not load over the simulator home");
    w.show();
    settle();
    w.loadViewsBut_Click();
    settle_window(w);
    tsy::test::ui(w).runModeCombo->setCurrentIndex(
        tsy::test::ui(w).runModeCombo->findText(QStringLiteral("Hide")));
    w.runModeCombo_Click();
    w.selectAllBut_Click();
    if (tsy::test::checked_count(*tsy::test::ui(w).viewsModel) != n)
        note(QStringLiteral("4: %1 of %2 views checked")
                 .arg(tsy::test::checked_count(*tsy::test::ui(w).viewsModel))
                 .arg(n));

    std::vector<double> runs, directs;
    size_t calls = 0, starts = 0;
    int unfixed = 0;
    for (int r = 0; r < reps; ++r) {
        home.breakStorage();
        home.clearJournal();
        settle();
        QElapsedTimer t;
        t.start();
        w.executeFixProtBut_Click();
        settle_window(w);
        runs.push_back(ms_since(t));
        calls = starts = 0;
        for (const ccsim::JournalEntry& e : home.journal()) {
            // What Tessaly itself starts: cleartool, and the fix_prot
            // command's first program (the remote shell, sudo or fix_prot).
            calls += e.program == "cleartool";
            starts += e.program == "cleartool" || e.program == "ssh";
        }
        unfixed = 0;
        for (const ccsim::View& v : views)
            unfixed += home.storageFixed(v.tag) ? 0 : 1;

        // The same programs per view, started directly, the storage lock on
        // the host included.
        home.breakStorage();
        t.restart();
        direct_starts(home, views, false, true);
        directs.push_back(ms_since(t));
    }
    qputenv("CLEARCASEHOME", saved);
    if (unfixed)
        note(QStringLiteral("4: %1 of %2 views were not repaired by the run").arg(unfixed).arg(n));

    const double run = median_of(runs) / n;
    const double direct = median_of(directs) / n;
    const double own = run - direct;
    // The repair unit is one more process per view; the journal does not
    // see it.
    const double perView = double(starts) / n + 1;
    row(QStringLiteral("4. Execute (Hide), %1 views: total per view").arg(n), fmt_ms(run),
        QString(), QStringLiteral("the same starts direct: %1/view").arg(fmt_ms(direct)), -1);
    row(QStringLiteral("4. Tessaly's own overhead per view (run - direct starts)"), fmt_ms(own),
        QStringLiteral("<= 10 ms"), QStringLiteral("run/direct = %1").arg(fmt_num(run / direct, 2)),
        own <= 10);
    row(QStringLiteral("4. Processes started per view (ccsim journal + the repair unit)"),
        fmt_num(perView, 2), QStringLiteral("<= 5"),
        QStringLiteral("cleartool %1 + the remote shell 1 + the unit 1")
            .arg(fmt_num(double(calls) / n, 2)),
        perView <= 5.0);
    const auto [unit, start] = unit_cost_ms(smoke() ? 5 : 300);
    row(QStringLiteral("4. The repair unit's own cost per view (through it - direct)"),
        fmt_ms(unit), QStringLiteral("<= 1 process start"),
        QStringLiteral("one start of /bin/true: %1").arg(fmt_ms(start)), unit <= start * 1.5);
}

} // namespace tsy::bench
