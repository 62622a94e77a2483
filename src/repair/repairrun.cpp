#include "repairrun.h"

#include "launcher.h"

#include "app/frmmain.h"
#include "common/msgbox.h"
#include "common/platform.h"
#include "common/textutil.h"
#include "common/viewlistmodel.h"
#include "common/yield.h"
#include "progress/frmprogress.h"
#include "views/viewloading.h"

#include <QComboBox>
#include <QLineEdit>

#include <algorithm>

namespace tsy::repair {

QString default_fix_prot_args() {
    return QStringLiteral(" -force -root -recover -recurse ");
}

void action_chosen(frmMain& w) {
    if (w.actionCombo->currentText() == QLatin1StringView("fix_prot")) {
        w.actionArgsTxt->setText(default_fix_prot_args());
        w.actionArgsTxt->setCursorPosition(0); // show the arguments from their start
    }
}

void run_mode_chosen(frmMain& w) {
    const QString t = w.runModeCombo->currentText();
    if (t == QLatin1StringView("Hide"))
        w.GRunMode = kStyleHide;
    else if (t == QLatin1StringView("Normal"))
        w.GRunMode = kStyleNormal;
    else if (t == QLatin1StringView("Minimized"))
        w.GRunMode = kStyleMinimized;
}

QString quote_path(const QString& path) {
#ifdef Q_OS_WIN
    // The C runtime splits a command line only at blanks and tabs.
    const bool needs = path.contains(u' ') || path.contains(u'\t') || path.contains(u'"');
#else
    // QProcess::splitCommand splits at every white-space character.
    const bool needs = path.contains(u'"') ||
                       std::any_of(path.cbegin(), path.cend(), [](QChar c) { return c.isSpace(); });
#endif
    if (!needs)
        return path;
#ifdef Q_OS_WIN
    // The C runtime's rules: backslashes are literal unless they precede a
    // quote, where they must be doubled.
    QString out = QStringLiteral("\"");
    int slashes = 0;
    for (const QChar c : path) {
        if (c == u'\\') {
            ++slashes;
            continue;
        }
        if (c == u'"') {
            out += QString(slashes * 2 + 1, u'\\');
        } else {
            out += QString(slashes, u'\\');
        }
        slashes = 0;
        out += c;
    }
    out += QString(slashes * 2, u'\\');
    out += u'"';
    return out;
#else
    // Qt's command-line splitting: a literal quote inside quotes is three.
    QString inner = path;
    inner.replace(QStringLiteral("\""), QStringLiteral("\"\"\""));
    return QStringLiteral("\"") + inner + QStringLiteral("\"");
#endif
}

QString fix_prot_command_line(const QString& program, const QString& argsText,
                              const QString& storage) {
    const QString args =
        QStringLiteral(" ") + (argsText == QLatin1StringView("<arguments>") ? QString() : argsText);
    return quote_path(program) + args + QStringLiteral(" ") + quote_path(storage);
}

namespace {
// fix_prot's exit status is not the run's business, but a utility that
// failed must not pass for a repaired view: such views are listed once,
// after the run.
void report_failed_repairs(const QStringList& failed, int repaired) {
    if (failed.isEmpty())
        return;
    msg_box(QStringLiteral("fix_prot did not succeed for %1 of %2 views:\r\n")
                    .arg(failed.size())
                    .arg(repaired) +
                failed.join(QStringLiteral("\r\n")),
            QString(), MsgIcon::Warning);
}

QString describe_outcome(const WaitOutcome& o) {
    if (o.crashed)
        return QStringLiteral("it crashed");
    return QStringLiteral("exit status %1").arg(o.exitCode);
}
} // namespace

void execute_fix_prot(frmMain& w) {
    if (w.operationUnderway())
        return;
    const QString argsText = w.actionArgsTxt->text();
    const QString program = w.CCHOME + QString::fromLocal8Bit(plat::fix_prot_suffix());
    QString commandLine;
    QStringList failedRepairs;
    int repairs = 0;

    start_progress(QStringLiteral("Executing..."));
    w.busy(true);
    w.beginOperation();
    try {
        const int n = w.viewsModel->count();
        for (int i = 0; i < n; ++i) {
            do_events();
            if (w.unloading())
                break;
            if (w.actionCombo->currentText() != QLatin1StringView("fix_prot"))
                continue;
            if (i >= w.viewsModel->count())
                throw Failure(QStringLiteral("Invalid list index: row %1 no longer exists").arg(i));
            if (!w.viewsModel->isChecked(i))
                continue;
            QString tag = w.viewsModel->text(i);
            split_at_delim(tag, QStringLiteral(":"));
            set_msg(QStringLiteral("Fixing Protection --> ") + tag);

            const QString storage = strip_crlf(w.getViewStg(tag));
            // getViewStg has told the operator why there is no path.
            if (storage.isEmpty())
                continue;
            // Output without a path yields the bare marker. Repairing "/" (or
            // a UNC root) recursively would touch far more than one view, so
            // such a view is skipped and the operator told.
            if (storage == views::storage_marker()) {
                msg_box(QStringLiteral("ERROR:lsview printed no storage path for view ") + tag +
                            QStringLiteral(": Couldn't get view storage"),
                        QStringLiteral("Error:getViewStg()"), MsgIcon::Critical);
                continue;
            }
            commandLine = fix_prot_command_line(program, argsText, storage);
            run_and_wait(commandLine, w.GRunMode);
            const WaitOutcome outcome = last_wait_outcome();
            if (outcome.started) {
                ++repairs;
                if (outcome.known && (outcome.crashed || outcome.exitCode != 0))
                    failedRepairs.append(tag + QStringLiteral(": ") + describe_outcome(outcome));
            }
            // Closing the window abandons the wait; the view's server must
            // not be stopped while fix_prot may still be working on it.
            if (w.unloading())
                break;
            w.ensureCTool().cmdExec(QStringLiteral("endview -server ") + tag);
        }
    } catch (...) {
        msg_box(QStringLiteral("ERROR:") + describe_exception(std::current_exception()) +
                    QStringLiteral(":Execute::") + commandLine,
                QStringLiteral("Error:executeFixProtBut()"), MsgIcon::Critical);
        stop_progress();
        w.busy(false);
        w.endOperation();
        report_failed_repairs(failedRepairs, repairs);
        return;
    }
    stop_progress();
    do_events();
    w.busy(false);
    w.endOperation();
    if (!w.unloading())
        report_failed_repairs(failedRepairs, repairs);
}

} // namespace tsy::repair
