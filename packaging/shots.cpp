// SPDX-License-Identifier: Apache-2.0
// Renders the README's pictures from the real windows, and checks the main
// window's layout at the screen's scale factor: every caption fits its
// control, no control leaves its parent and no two neighbours overlap.
//
//   CLEARCASEHOME=<simulated home> tessaly_shots OUTDIR
//
// Writes OUTDIR/main-window.png, OUTDIR/view-details.png and
// OUTDIR/progress-window.png. Exits 1 when the layout check finds a fault
// or a picture could not be made. Run it under a real X server (xvfb-run),
// with QT_SCALE_FACTOR=2 for the high-DPI check.
#include "app/frmmain.h"
#include "common/msgbox.h"
#include "common/yield.h"
#include "model/viewlistmodel.h"
#include "progress/frmprogress.h"
#include "ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTimer>

#include <cstdio>

using namespace tsy;
using namespace tsy::test;

namespace {

int g_faults = 0;

void fault(const QString& what) {
    std::fprintf(stderr, "LAYOUT FAULT: %s\n", qPrintable(what));
    ++g_faults;
}

QString name_of(const QWidget* w) {
    return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                     : w->objectName();
}

// Lets paints and timers run for a while.
void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool save(const QPixmap& pm, const QString& file) {
    if (pm.isNull() || !pm.save(file, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("wrote %s (%dx%d device pixels, ratio %.2f)\n", qPrintable(file), pm.width(),
                pm.height(), pm.devicePixelRatio());
    return true;
}

void report_fit(const QWidget* w, const QString& text, int need, int have) {
    std::printf("  %-22s %-32s needs %3d px, has %3d px%s\n", qPrintable(name_of(w)),
                qPrintable(QLatin1Char('"') + text + QLatin1Char('"')), need, have,
                need > have ? "  <-- cut" : "");
    if (need > have)
        fault(QStringLiteral("%1: \"%2\" needs %3 px but has %4")
                  .arg(name_of(w), text)
                  .arg(need)
                  .arg(have));
}

// The room a caption gets inside its control, as the style lays it out.
void check_caption(QWidget* w) {
    const QFontMetrics fm(w->font());
    QStyle* st = w->style();
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        if (b->isDefault())
            opt.features |= QStyleOptionButton::DefaultButton;
        if (b->autoDefault())
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        const QRect r = st->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
        report_fit(b, b->text(), fm.horizontalAdvance(b->text()), r.width());
        report_fit(b, QStringLiteral("(text height)"), fm.height(), b->height());
    } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(c);
        opt.text = c->text();
        const QRect r = st->subElementRect(QStyle::SE_CheckBoxContents, &opt, c);
        if (c->height() >= 2 * fm.height()) {
            // A two-line check box wraps its caption: every word must fit
            // the width, and the wrapped text the height.
            const QRect wrapped =
                fm.boundingRect(QRect(0, 0, r.width(), 10000), Qt::TextWordWrap, c->text());
            int widest = 0;
            for (const QString& word : c->text().split(u' '))
                widest = qMax(widest, fm.horizontalAdvance(word));
            report_fit(c, QStringLiteral("(widest word)"), widest, r.width());
            report_fit(c, QStringLiteral("(wrapped height)"), wrapped.height(), c->height());
        } else {
            report_fit(c, c->text(), fm.horizontalAdvance(c->text()), r.width());
            report_fit(c, QStringLiteral("(text height)"), fm.height(), c->height());
        }
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(cb);
        opt.editable = cb->isEditable();
        opt.frame = cb->hasFrame();
        const QRect r =
            st->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, cb);
        QStringList texts;
        for (int i = 0; i < cb->count(); ++i)
            texts << cb->itemText(i);
        if (texts.isEmpty())
            texts << cb->currentText();
        for (const QString& t : texts)
            report_fit(cb, t, fm.horizontalAdvance(t), r.width());
        report_fit(cb, QStringLiteral("(text height)"), fm.height(), r.height());
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        if (!l->text().isEmpty() && !l->wordWrap())
            report_fit(l, l->text(), fm.horizontalAdvance(l->text()), l->contentsRect().width());
        if (!l->pixmap().isNull()) {
            const QSize s = l->pixmap().deviceIndependentSize().toSize();
            report_fit(l, QStringLiteral("(picture width)"), s.width(), l->contentsRect().width());
            report_fit(l, QStringLiteral("(picture height)"), s.height(),
                       l->contentsRect().height());
        }
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        // A line edit scrolls its text; only a line of text must fit.
        report_fit(e, QStringLiteral("(text height)"), fm.height(), e->height());
    }
}

// Siblings whose design edges meet on the same pixel (the design is in
// twips, 15 to the pixel) touch by one pixel; anything more is an overlap.
void check_siblings(QWidget* parent) {
    QList<QWidget*> kids;
    for (QWidget* k : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (k->isVisibleTo(parent) && !k->isWindow())
            kids << k;
    }
    const QRect inside = parent->rect();
    for (QWidget* k : kids) {
        if (!inside.contains(k->geometry()))
            fault(QStringLiteral("%1 leaves its parent %2").arg(name_of(k), name_of(parent)));
    }
    for (qsizetype i = 0; i < kids.size(); ++i) {
        for (qsizetype j = i + 1; j < kids.size(); ++j) {
            const QRect x = kids[i]->geometry() & kids[j]->geometry();
            if (x.isEmpty())
                continue;
            if (x.width() <= 1 || x.height() <= 1) {
                std::printf("  %s and %s touch by one pixel (design edges)\n",
                            qPrintable(name_of(kids[i])), qPrintable(name_of(kids[j])));
                continue;
            }
            fault(QStringLiteral("%1 and %2 overlap by %3x%4 px")
                      .arg(name_of(kids[i]), name_of(kids[j]))
                      .arg(x.width())
                      .arg(x.height()));
        }
    }
}

void check_layout(frmMain& w) {
    std::printf("layout check at device pixel ratio %.2f, font %s %.2fpt:\n", w.devicePixelRatioF(),
                qPrintable(QFontInfo(w.font()).family()), w.font().pointSizeF());
    check_siblings(&w);
    check_siblings(ui(w).mainFrame);
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (c->parentWidget() == &w || c->parentWidget() == ui(w).mainFrame)
            check_caption(c);
    }
    const QSize client = w.size();
    if (client != QSize(645, 469))
        fault(QStringLiteral("client area is %1x%2, designed 645x469")
                  .arg(client.width())
                  .arg(client.height()));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessaly_shots OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = true;

    // Boxes while loading (views the simulator cannot read) are printed
    // and answered; the detail report below uses the real box.
    set_msg_responder([](const MsgRequest& r) {
        std::fprintf(stderr, "box \"%s\": %s\n", qPrintable(r.title), qPrintable(r.text));
        return MsgAnswer::Ok;
    });

    frmMain w;
    if (!w.Form_Load()) {
        std::fprintf(stderr, "ClearCase not found: set CLEARCASEHOME to a simulated home\n");
        return 1;
    }
    w.show();
    w.activateWindow();
    settle(300);
    w.loadViewsBut_Click();
    settle(w);
    settle(200);
    if (ui(w).viewsModel->count() < 10) {
        std::fprintf(stderr, "only %d views loaded\n", ui(w).viewsModel->count());
        return 1;
    }
    // A few views picked by hand, the current line on one of them.
    for (int row : {1, 2, 4, 7, 8})
        ui(w).viewsModel->setChecked(row, true);
    w.setCurrentRow(4);
    ui(w).viewsList->setFocus(Qt::OtherFocusReason);
    settle(200);

    check_layout(w);
    const QPixmap main = w.grab();
    if (main.deviceIndependentSize().toSize() != QSize(645, 469))
        fault(QStringLiteral("the window grabbed at %1x%2")
                  .arg(main.deviceIndependentSize().width())
                  .arg(main.deviceIndependentSize().height()));
    ok = save(main, out + QStringLiteral("/main-window.png")) && ok;

    // The detail report: the real message box, grabbed once it is up and
    // then answered with Enter.
    set_msg_responder({});
    bool detailGrabbed = false;
    auto* poll = new QTimer(&w);
    poll->setInterval(50);
    QObject::connect(poll, &QTimer::timeout, &w, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        settle(200);
        detailGrabbed = save(box->grab(), out + QStringLiteral("/view-details.png"));
        box->accept();
    });
    poll->start();
    w.viewsList_DblClick();
    settle(w);
    poll->stop();
    ok = ok && detailGrabbed;

    // The progress window during a real run over the checked views, with
    // fix_prot run without a window.
    set_msg_responder([](const MsgRequest& r) {
        std::fprintf(stderr, "box \"%s\": %s\n", qPrintable(r.title), qPrintable(r.text));
        return MsgAnswer::Ok;
    });
    ui(w).runModeCombo->setCurrentIndex(ui(w).runModeCombo->findText(QStringLiteral("Hide")));
    w.runModeCombo_Click();
    bool progressGrabbed = false;
    set_yield_hook([&] {
        if (progressGrabbed || !w.progress().window())
            return;
        frmProgress& p = *w.progress().window();
        if (!p.isVisible() || !p.progressLbl->text().startsWith(QStringLiteral("Fixing")))
            return;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300)
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        progressGrabbed = save(p.grab(), out + QStringLiteral("/progress-window.png"));
    });
    w.executeFixProtBut_Click();
    settle(w);
    set_yield_hook({});
    ok = ok && progressGrabbed;

    w.close();
    if (g_faults > 0)
        std::fprintf(stderr, "%d layout fault(s)\n", g_faults);
    else
        std::printf("layout check: no faults\n");
    return ok && g_faults == 0 ? 0 : 1;
}
