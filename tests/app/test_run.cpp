// SPDX-License-Identifier: Apache-2.0
#include "app/frmmain.h"
#include "app/repairrun.h"
#include "fakecc.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "progress/frmprogress.h"
#include "repair/launcher.h"
#include "repair/runlocks.h"
#include "temphome.h"
#include "ui.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;
using tsy::cc::Failure;

namespace {
const QString kArgs = QStringLiteral(" -force -root -recover -recurse ");

// A main window over the fake library with a stand-in fix_prot that logs
// each call's arguments, one call a line, each argument in brackets.
struct RunWindow : FakeWindow {
    explicit RunWindow(const QStringList& tags) {
        qunsetenv("TERMINAL");
        const QString utils = home.path() + QStringLiteral("/etc/utils");
        QDir().mkpath(utils);
        log = home.path() + QStringLiteral("/fix_prot.log");
        QFile f(utils + QStringLiteral("/fix_prot"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" +
                QFile::encodeName(log) + "'\necho >> '" + QFile::encodeName(log) +
                "'\n[ -n \"$TSY_TEST_SLEEP\" ] && sleep \"$TSY_TEST_SLEEP\"\nexit 0\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const QString& t : tags) {
            FakeView v;
            v.tag = t;
            v.host = QStringLiteral("h");
            backend->state().views.append(v);
        }
        w->loadViewsBut_Click();
        settle(*w);
        ui(*w).runModeCombo->setCurrentIndex(1); // Hide: no terminal
        w->runModeCombo_Click();
    }
    void check(const QString& tag) {
        for (int i = 0; i < ui(*w).viewsModel->count(); ++i)
            if (ui(*w).viewsModel->text(i).startsWith(tag + QStringLiteral(":")))
                ui(*w).viewsModel->setChecked(i, true);
    }
    QStringList calls() const {
        QFile f(log);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    QStringList& commands() { return backend->state().commands; }
    QString program() const { return home.path() + QStringLiteral("/etc/utils/fix_prot"); }
    QString call(const QString& tag) const {
        return QStringLiteral("[-force][-root][-recover][-recurse][/storage/") + tag +
               QStringLiteral(".vws]");
    }
    QString log;
};
} // namespace

TEST(ActionAndRunMode, TheHandlersSetArgumentsAndTheWindowStyle) {
    MsgRecorder boxes;
    FakeWindow f;
    frmMain& w = *f.w;
    EXPECT_EQ(ui(w).actionArgsTxt->text(), kArgs);
    EXPECT_EQ(w.GRunMode, 1);
    ui(w).actionArgsTxt->setText(QStringLiteral("-chmod 775"));
    w.actionCombo_Click();
    EXPECT_EQ(ui(w).actionArgsTxt->text(), kArgs);
    for (const auto& [index, mode] : {std::pair{2, 2}, std::pair{1, 0}, std::pair{0, 1}}) {
        ui(w).runModeCombo->setCurrentIndex(index);
        w.runModeCombo_Click();
        EXPECT_EQ(w.GRunMode, mode);
    }
    // Typing into the action box runs no handler, Return included, and
    // nothing typed is completed.
    ui(w).actionArgsTxt->setText(QStringLiteral("mine"));
    w.show();
    type_into(ui(w).actionCombo, QStringLiteral("fix_prot"));
    EXPECT_EQ(ui(w).actionArgsTxt->text(), QStringLiteral("mine"));
    type_into(ui(w).actionCombo, QStringLiteral("fix"), false);
    EXPECT_EQ(ui(w).actionCombo->currentText(), QStringLiteral("fix"));
}

TEST(CommandLine, IsBuiltFromItsPiecesWithTheirBlanks) {
    EXPECT_EQ(fix_prot_command_line(QStringLiteral("/cc/etc/utils/fix_prot"), kArgs,
                                    QStringLiteral("/vws/a.vws")),
              QStringLiteral("/cc/etc/utils/fix_prot  -force -root -recover -recurse  /vws/a.vws"));
    for (const QString& none : {QStringLiteral("<arguments>"), QString()})
        EXPECT_EQ(
            fix_prot_command_line(QStringLiteral("/cc/fp"), none, QStringLiteral("/vws/a.vws")),
            QStringLiteral("/cc/fp  /vws/a.vws"));
    // The placeholder counts only exactly.
    EXPECT_EQ(fix_prot_command_line(QStringLiteral("/fp"), QStringLiteral("<Arguments>"),
                                    QStringLiteral("/s")),
              QStringLiteral("/fp <Arguments> /s"));
}

TEST(CommandLine, PathsWithBlanksOrQuotesReachTheUtilityWhole) {
    const QString program = QStringLiteral("/opt/cc home/etc/utils/fix_prot");
    for (const QString& storage :
         {QStringLiteral("/vws/my view.vws"), QStringLiteral("/vws/it's \"odd\" $x;`y`.vws"),
          QStringLiteral("/vws/a\"b.vws"), QStringLiteral("/vws/plain.vws"),
          QStringLiteral("/vws/a\u00A0b\vc\fd\u3000e.vws")}) {
        const QString line = fix_prot_command_line(program, kArgs, storage);
        EXPECT_EQ(QProcess::splitCommand(line),
                  (QStringList{program, QStringLiteral("-force"), QStringLiteral("-root"),
                               QStringLiteral("-recover"), QStringLiteral("-recurse"), storage}))
            << line.toStdString();
    }
}

TEST(Execute, AnEmptyListOrNoCheckedRowStartsNothing) {
    for (const bool withViews : {false, true}) {
        MsgRecorder boxes;
        RunWindow f(withViews ? QStringList{QStringLiteral("a"), QStringLiteral("b")}
                              : QStringList{});
        YieldWatcher yields;
        QStringList messages;
        yields.onYield = [&](int) {
            messages.append(progress_message(*f.w));
        };
        f.w->executeFixProtBut_Click();
        settle(*f.w);
        EXPECT_TRUE(f.calls().isEmpty());
        EXPECT_TRUE(f.commands().isEmpty());
        EXPECT_FALSE(progress_shown(*f.w));
        EXPECT_EQ(f.w->cursor().shape(), Qt::ArrowCursor);
        EXPECT_EQ(yields.count, withViews ? 3 : 1); // one per row, one at the end
        EXPECT_EQ(messages.first(), QStringLiteral("Executing..."));
        EXPECT_TRUE(boxes.boxes.isEmpty());
    }
}

TEST(Execute, RepairsCheckedViewsInOrderThenStopsTheirServers) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")});
    f.check(QStringLiteral("a"));
    f.check(QStringLiteral("b"));
    YieldWatcher yields;
    QStringList messages;
    yields.onYield = [&](int) {
        messages.append(progress_message(*f.w));
    };
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_EQ(f.commands(),
              (QStringList{QStringLiteral("lsview a"), QStringLiteral("endview -server a"),
                           QStringLiteral("lsview b"), QStringLiteral("endview -server b")}));
    EXPECT_EQ(f.calls(), (QStringList{f.call(QStringLiteral("a")), f.call(QStringLiteral("b"))}));
    EXPECT_TRUE(messages.contains(QStringLiteral("Fixing Protection --> a")));
    // Rows stay checked: a second run does the same again.
    EXPECT_EQ(checked_count(*ui(*f.w).viewsModel), 2);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_FALSE(progress_shown(*f.w));
}

TEST(Execute, ReadsArgumentsOnceAndTheActionAndModeAtEveryRow) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    f.check(QStringLiteral("a"));
    f.check(QStringLiteral("c"));
    ui(*f.w).actionArgsTxt->setText(QStringLiteral("<arguments>"));
    YieldWatcher yields;
    yields.onYield = [&](int n) {
        if (n == 2) {
            // Inside the run: these take effect on the rows still to come.
            ui(*f.w).actionArgsTxt->setText(QStringLiteral("-late"));
            f.check(QStringLiteral("b"));
        }
        if (n == 3)
            type_into(ui(*f.w).actionCombo, QStringLiteral("other"), false);
    };
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    const QString bare = QStringLiteral("[/storage/");
    EXPECT_EQ(f.calls(),
              (QStringList{bare + QStringLiteral("a.vws]"), bare + QStringLiteral("b.vws]")}));
    EXPECT_FALSE(f.commands().contains(QStringLiteral("lsview c")));
}

TEST(Execute, AnyOtherActionTextStartsNothing) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a")});
    f.check(QStringLiteral("a"));
    f.w->show();
    // Return must not pick "fix_prot" for a text that matches it ignoring case.
    type_into(ui(*f.w).actionCombo, QStringLiteral("FIX_PROT"));
    EXPECT_EQ(ui(*f.w).actionCombo->currentText(), QStringLiteral("FIX_PROT"));
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_TRUE(f.calls().isEmpty());
    EXPECT_TRUE(f.commands().isEmpty());
}

TEST(Execute, AFailingEndviewEndsTheRunWithTheLastCommandLine) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    for (const char* t : {"a", "b", "c"})
        f.check(QString::fromLatin1(t));
    f.backend->state().cmdExec = [](const QString& c) -> QString {
        if (c.startsWith(QLatin1StringView("endview")))
            throw Failure(
                QStringLiteral("cleartool: Error: Unable to contact albd_server on host 'h'"));
        return QStringLiteral("  ") + c.mid(7) + QStringLiteral("  /storage/") + c.mid(7) +
               QStringLiteral(".vws\r\n");
    };
    bool progressShownAtBox = false;
    boxes.onBox = [&](const MsgRequest&) {
        progressShownAtBox = progress_shown(*f.w);
    };
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Error:executeFixProtBut()"));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("ERROR:cleartool: Error: Unable to contact albd_server on host "
                             "'h':Execute::\"") +
                  f.program() +
                  QStringLiteral("\"  -force -root -recover -recurse  /storage/a.vws"));
    EXPECT_EQ(f.calls(), QStringList{f.call(QStringLiteral("a"))});
    EXPECT_EQ(f.commands(),
              (QStringList{QStringLiteral("lsview a"), QStringLiteral("endview -server a")}));
    EXPECT_TRUE(progressShownAtBox);
    EXPECT_FALSE(progress_shown(*f.w));
    EXPECT_EQ(f.w->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(ui(*f.w).executeFixProtBut->isEnabled());
    EXPECT_TRUE(ui(*f.w).loadViewsBut->isEnabled());
}

TEST(Execute, AMissingUtilityIsReportedTheRunGoesOnAndNoServerIsStopped) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b")});
    QFile::remove(f.program());
    f.check(QStringLiteral("a"));
    f.check(QStringLiteral("b"));
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    ASSERT_EQ(boxes.boxes.size(), 3) << boxes.texts().join(u'\n').toStdString();
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(
        QStringLiteral("ERROR: No such file or directory\r\nCould not execute --> \"") +
        f.program()));
    // Neither view was repaired: both are named, and neither server stopped.
    EXPECT_TRUE(boxes.boxes[2].text.startsWith(
        QStringLiteral("fix_prot did not succeed for 2 of 2 views:\r\na: could not be started")));
    EXPECT_EQ(boxes.boxes[2].icon, MsgIcon::Warning);
    EXPECT_EQ(f.commands(), (QStringList{QStringLiteral("lsview a"), QStringLiteral("lsview b")}));
}

TEST(Execute, AViewWithoutStorageIsSkipped) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    for (const char* t : {"a", "b", "c"})
        f.check(QString::fromLatin1(t));
    f.backend->state().cmdExec = [](const QString& c) -> QString {
        if (c == QLatin1StringView("lsview a"))
            throw Failure(
                QStringLiteral("cleartool: Error: No matching entries found for view tag \"a\"."));
        if (c == QLatin1StringView("lsview b"))
            return QStringLiteral("garbage without a path\n");
        if (c.startsWith(QLatin1StringView("lsview ")))
            return QStringLiteral("  c   /storage/c.vws\n");
        return QString();
    };
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Error:getViewStg()"));
    EXPECT_EQ(boxes.boxes[1].text,
              QStringLiteral(
                  "ERROR:lsview printed no storage path for view b: Couldn't get view storage"));
    EXPECT_EQ(f.calls(), QStringList{f.call(QStringLiteral("c"))});
    EXPECT_EQ(f.commands(),
              (QStringList{QStringLiteral("lsview a"), QStringLiteral("lsview b"),
                           QStringLiteral("lsview c"), QStringLiteral("endview -server c")}));
}

TEST(Execute, RefusesLoadExecuteAndFilterUntilItEnds) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b")});
    f.check(QStringLiteral("a"));
    f.w->Form_Activate();
    ui(*f.w).filterPatternTxt->setText(QStringLiteral("a"));
    ASSERT_TRUE(ui(*f.w).filterBut->isEnabled());
    YieldWatcher yields;
    int refused = 0;
    yields.onYield = [&](int) {
        refused += !ui(*f.w).loadViewsBut->isEnabled() &&
                   !ui(*f.w).executeFixProtBut->isEnabled() && !ui(*f.w).filterBut->isEnabled();
        f.w->executeFixProtBut_Click(); // a second run inside the first does nothing
        f.w->loadViewsBut_Click();
    };
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_EQ(refused, yields.count);
    EXPECT_EQ(f.calls().size(), 1);
    EXPECT_EQ(f.backend->state().collectionsMade, 1);
    EXPECT_TRUE(ui(*f.w).filterBut->isEnabled());
}

TEST(Execute, ClosingTheWindowMidRunEndsItCleanlyAndLetsTheUtilityFinish) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b")});
    f.check(QStringLiteral("a"));
    f.check(QStringLiteral("b"));
    f.w->show();
    qputenv("TSY_TEST_SLEEP", "0.4");
    when(
        f.w.get(), [&] { return f.calls().size() == 1; }, [&] { f.w->close(); });
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    qunsetenv("TSY_TEST_SLEEP");
    EXPECT_FALSE(f.w->isVisible());
    EXPECT_EQ(f.commands(), QStringList{QStringLiteral("lsview a")}); // no endview while it works
    EXPECT_EQ(f.calls().size(), 1);
    EXPECT_EQ(progress_of(*f.w), nullptr);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(Execute, AKeyTypedDuringARunGoesToTheListAndSkipsNoView) {
    // Execute disables itself; the focus must not pass to the editable
    // action box, where one key would rewrite "fix_prot" mid-run.
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    for (const char* t : {"a", "b", "c"})
        f.check(QString::fromUtf8(t));
    f.w->show();
    f.w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.w.get()));
    qputenv("TSY_TEST_SLEEP", "0.3");
    QWidget* during = nullptr;
    // The main window's own focus: the progress window may be the active
    // one meanwhile.
    QTimer::singleShot(150, f.w.get(), [&] {
        during = f.w->focusWidget();
        if (during)
            QTest::keyClicks(during, QStringLiteral("x"));
    });
    QTest::mouseClick(ui(*f.w).executeFixProtBut, Qt::LeftButton);
    settle(*f.w);
    qunsetenv("TSY_TEST_SLEEP");
    EXPECT_EQ(during, ui(*f.w).viewsList);
    EXPECT_EQ(ui(*f.w).actionCombo->currentText(), QStringLiteral("fix_prot"));
    EXPECT_EQ(f.calls().size(), 3);
    EXPECT_EQ(f.w->focusWidget(), ui(*f.w).executeFixProtBut);
}

TEST(Execute, EscInTheProgressWindowAsksAndYesStopsAfterTheCurrentView) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    for (const char* t : {"a", "b", "c"})
        f.check(QString::fromUtf8(t));
    qputenv("TSY_TEST_SLEEP", "0.4");
    boxes.answers = {MsgAnswer::No, MsgAnswer::Yes};
    // Asked twice while a's fix_prot runs: No goes on, Yes stops after it.
    QTimer::singleShot(100, f.w.get(), [&] {
        ASSERT_TRUE(progress_shown(*f.w));
        QTest::keyClick(progress_of(*f.w), Qt::Key_Escape);
        QTest::keyClick(progress_of(*f.w), Qt::Key_Escape);
    });
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    qunsetenv("TSY_TEST_SLEEP");
    ASSERT_EQ(boxes.boxes.size(), 2) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(boxes.last().text, QStringLiteral("Stop after the current view?"));
    EXPECT_EQ(boxes.last().buttons, MsgButtons::YesNo);
    // a finished whole, its server stopped after its fix_prot; b and c
    // were not started.
    EXPECT_EQ(f.calls(), QStringList{f.call(QStringLiteral("a"))});
    EXPECT_EQ(f.commands(),
              (QStringList{QStringLiteral("lsview a"), QStringLiteral("endview -server a")}));
    EXPECT_FALSE(progress_shown(*f.w));
}

TEST(Execute, RefusesWhileAnotherRunHoldsTheRunLock) {
    MsgRecorder boxes;
    RunWindow f({QStringLiteral("a")});
    f.check(QStringLiteral("a"));
    repair::RunLock other; // as a headless run of the same user would
    ASSERT_TRUE(other.acquire());
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(
        boxes.last().text.startsWith(QStringLiteral("Another repair run is under way (process ")));
    EXPECT_TRUE(f.calls().isEmpty());
    EXPECT_TRUE(f.commands().isEmpty());
    other.release();
    f.w->executeFixProtBut_Click();
    settle(*f.w);
    EXPECT_EQ(f.calls().size(), 1);
}
