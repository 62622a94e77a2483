// Figure 4: what Execute costs per view beyond the three programs it starts.
#include "figures.h"
#include "harness.h"
#include "ui.h"

#include "clearcase/viewlistmodel.h"
#include "progress/frmprogress.h"
#include "repair/repairrun.h"

#include <ccsim.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

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

void figure_run() {
    const int n = smoke() ? 10 : 200;
    const int reps = smoke() ? 1 : 3;
    QTemporaryDir tmp;
    ccsim::Home home = ccsim::Home::create(tmp.path().toStdString() + "/run home");
    home.generate(n);
    const std::vector<ccsim::View> views = home.views();
    const QByteArray saved = qgetenv("CLEARCASEHOME");
    qputenv("CLEARCASEHOME", QByteArray::fromStdString(home.dir()));

    frmMain w;
    if (!w.Form_Load())
        qFatal("the main window did not load over the simulator home");
    w.show();
    settle();
    w.loadViewsBut_Click();
    tsy::test::settle(w);
    tsy::test::ui(w).runModeCombo->setCurrentIndex(
        tsy::test::ui(w).runModeCombo->findText(QStringLiteral("Hide")));
    w.runModeCombo_Click();
    w.selectAllBut_Click();
    if (tsy::test::ui(w).viewsModel->checkedCount() != n)
        note(QStringLiteral("4: %1 of %2 views checked")
                 .arg(tsy::test::ui(w).viewsModel->checkedCount())
                 .arg(n));

    const QString cleartool = q(home.cleartoolPath());
    const QString fixProt = q(home.fixProtPath());
    const QStringList fixArgs = QProcess::splitCommand(repair::default_fix_prot_args().trimmed());

    std::vector<double> runs, directs;
    size_t entries = 0;
    int unfixed = 0;
    for (int r = 0; r < reps; ++r) {
        home.breakStorage();
        home.clearJournal();
        settle();
        QElapsedTimer t;
        t.start();
        w.executeFixProtBut_Click();
        tsy::test::settle(w);
        runs.push_back(ms_since(t));
        entries = home.journal().size();
        unfixed = 0;
        for (const ccsim::View& v : views)
            unfixed += home.storageFixed(v.tag) ? 0 : 1;

        // The same three programs per view, started directly.
        home.breakStorage();
        t.restart();
        for (const ccsim::View& v : views) {
            run_direct(cleartool, {QStringLiteral("lsview"), q(v.tag)}, true);
            run_direct(fixProt, fixArgs + QStringList{q(v.storage)}, false);
            run_direct(cleartool, {QStringLiteral("endview"), QStringLiteral("-server"), q(v.tag)},
                       true);
        }
        directs.push_back(ms_since(t));
    }
    close_progress_window();
    qputenv("CLEARCASEHOME", saved);
    if (unfixed)
        note(QStringLiteral("4: %1 of %2 views were not repaired by the run").arg(unfixed).arg(n));

    const double run = median_of(runs) / n;
    const double direct = median_of(directs) / n;
    const double own = run - direct;
    const double starts = double(entries) / n;
    row(QStringLiteral("4. Execute (Hide), %1 views: total per view").arg(n), fmt_ms(run),
        QString(), QStringLiteral("3 starts direct: %1/view").arg(fmt_ms(direct)), -1);
    row(QStringLiteral("4. Tessaly's own overhead per view (run - direct starts)"), fmt_ms(own),
        QStringLiteral("<= 10 ms"), QStringLiteral("run/direct = %1").arg(fmt_num(run / direct, 2)),
        own <= 10);
    row(QStringLiteral("4. Process starts per view (ccsim journal)"), fmt_num(starts, 2),
        QStringLiteral("<= 3"), QString(), starts <= 3.0);
}

} // namespace tsy::bench
