// SPDX-License-Identifier: Apache-2.0
// Figure 5: list operations on 100,000 lines through the window's handlers.
#include "baselines.h"
#include "figures.h"
#include "harness.h"
#include "ui.h"

#include "common/msgbox.h"
#include "model/viewlistmodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>

namespace tsy::bench {

namespace {
void choose_action(frmMain& w, const QString& action) {
    const int i = tsy::test::ui(w).filterActionCombo->findText(action);
    if (i < 0)
        qFatal("the find/filter box lacks %s", qPrintable(action));
    tsy::test::ui(w).filterActionCombo->setCurrentIndex(i);
    w.filterActionCombo_Click();
}
} // namespace

void figure_list() {
    const int n = smoke() ? 1000 : 100000;
    const int reps = smoke() ? 1 : 5;
    FakeMain f;
    frmMain& w = *f.w;
    // Two hosts: sorted by tag, the lines alternate between host0 and host1,
    // so ":host1" picks every second line.
    f.backend->state().views = test::make_fake_views(n, 2);
    const QString everySecond = QStringLiteral(":host1");

    // The filter, each time on a freshly loaded list.
    choose_action(w, QStringLiteral("Filter-->"));
    tsy::test::ui(w).filterPatternTxt->setText(everySecond);
    int left = 0;
    const double filter = median_ms(reps, [&] {
        w.loadViewsBut_Click();
        settle_window(w);
        settle();
        QElapsedTimer t;
        t.start();
        w.filterBut_Click();
        const double ms = ms_since(t);
        left = tsy::test::ui(w).viewsModel->count();
        settle();
        return ms;
    });
    if (left != n - n / 2)
        note(QStringLiteral("5: the filter left %1 of %2 lines").arg(left).arg(n));

    // The same removal one row at a time, through a model shown in a list view.
    QStringList lines;
    w.loadViewsBut_Click();
    settle_window(w);
    for (int i = 0; i < tsy::test::ui(w).viewsModel->count(); ++i)
        lines.append(tsy::test::ui(w).viewsModel->text(i));
    RowByRowModel slow;
    QListView view;
    view.setUniformItemSizes(true);
    view.resize(tsy::test::ui(w).viewsList->size());
    view.setModel(&slow);
    view.show();
    const int slowReps = smoke() ? 1 : 3;
    int slowRemoved = 0;
    const double rowByRow = median_ms(slowReps, [&] {
        slow.setLines(lines);
        view.setCurrentIndex(slow.index(0));
        settle();
        QElapsedTimer t;
        t.start();
        slowRemoved = slow.removeMatching(everySecond);
        const double ms = ms_since(t);
        settle();
        return ms;
    });
    if (slowRemoved != n / 2)
        note(
            QStringLiteral("5: row-by-row removal dropped %1 of %2 lines").arg(slowRemoved).arg(n));
    view.hide();

    // Select All limited to a pattern, on the whole list.
    w.loadViewsBut_Click();
    settle_window(w);
    settle();
    tsy::test::ui(w).selectAllByPatternCB->setChecked(true);
    w.selectAllByPatternCB_Click();
    tsy::test::ui(w).selectAllByPatternTxt->setText(QStringLiteral("host1"));
    int checked = 0;
    const double select = median_ms(reps + 2, [&] {
        w.clearAllBut_Click();
        settle();
        QElapsedTimer t;
        t.start();
        w.selectAllBut_Click();
        const double ms = ms_since(t);
        checked = tsy::test::checked_count(*tsy::test::ui(w).viewsModel);
        settle();
        return ms;
    });
    if (checked != n / 2)
        note(QStringLiteral("5: Select All by pattern checked %1 of %2 lines").arg(checked).arg(n));

    // Find with no match: the whole list is searched, then the end-of-list
    // question is answered No.
    choose_action(w, QStringLiteral("Find-->"));
    tsy::test::ui(w).filterPatternTxt->setText(QStringLiteral("no-such-view"));
    int questions = 0;
    const MsgResponder before = set_msg_responder([&](const MsgRequest& r) {
        ++questions;
        return r.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    });
    const double find = median_ms(reps + 2, [&] {
        w.setCurrentRow(0);
        settle();
        QElapsedTimer t;
        t.start();
        w.filterBut_Click();
        const double ms = ms_since(t);
        settle();
        return ms;
    });
    set_msg_responder(before);
    if (questions != reps + 2 && !(smoke() && questions == 1))
        note(QStringLiteral("5: Find asked its end-of-list question %1 times").arg(questions));

    const QString lines_ = fmt_count(n);
    row(QStringLiteral("5. Filter--> every second line of %1").arg(lines_), fmt_ms(filter),
        QStringLiteral("<= 50 ms"), QStringLiteral("row by row %1").arg(fmt_ms(rowByRow)),
        filter <= 50);
    row(QStringLiteral("5. Filter speed-up over row-by-row removal"),
        fmt_num(rowByRow / filter, 1) + QStringLiteral("x"), QStringLiteral(">= 10x"), QString(),
        rowByRow / filter >= 10);
    row(QStringLiteral("5. Select All by pattern on %1").arg(lines_), fmt_ms(select),
        QStringLiteral("<= 50 ms"), QString(), select <= 50);
    row(QStringLiteral("5. Find--> with no match across %1").arg(lines_), fmt_ms(find),
        QStringLiteral("<= 50 ms"), QString(), find <= 50);
}

} // namespace tsy::bench
