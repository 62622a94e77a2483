// SPDX-License-Identifier: Apache-2.0
// fix_prot as UNIX ClearCase needs it, against the strict simulator: on
// the view's host through the remote shell, as root through sudo, with the
// view's owner and group and its host-local storage path.
#include "app/frmmain.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"
#include "platform/platform.h"
#include "process/commandline.h"
#include "repair/fixprot.h"
#include "simhome.h"
#include "ui.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::test;

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}

struct HostRun {
    HostRun() {
        qunsetenv("TERMINAL");
        w = std::make_unique<frmMain>();
        EXPECT_TRUE(w->Form_Load());
    }
    ~HostRun() { w.reset(); }
    ccsim::View add(const std::string& tag, const std::string& host) { return sim.add(tag, host); }
    void run() {
        w->loadViewsBut_Click();
        settle(*w);
        ui(*w).runModeCombo->setCurrentIndex(1); // Hide
        w->runModeCombo_Click();
        ui(*w).viewsModel->setCheckedWhere(true, {});
        sim.home().clearJournal();
        w->executeFixProtBut_Click();
        settle(*w);
    }
    QStringList fixWords(const ccsim::View& v) { return unix_fix_words(sim.home(), v); }
    QStringList stopped() const {
        QStringList out;
        for (const QString& e : sim.journal("cleartool"))
            if (e.startsWith(QStringLiteral("cleartool|endview|-server|")))
                out.append(e.section(u'|', 3));
        return out;
    }
    // The journal without the cleartool queries.
    QStringList programs() const {
        QStringList out;
        for (const QString& e : sim.journal())
            if (!e.startsWith(QStringLiteral("cleartool|lsview|")))
                out.append(e);
        return out;
    }

    SimHome sim;
    std::unique_ptr<frmMain> w;
};
} // namespace

TEST(OnTheStorageHost, ALocalAndARemoteViewInOneRun) {
    MsgRecorder boxes;
    HostRun f;
    const ccsim::View local = f.add("here", f.sim.home().localHost());
    ccsim::View remote;
    remote.tag = "there";
    remote.host = "ccview02";
    remote.owner = "jsmith";
    remote.group = "dev";
    remote = f.sim.home().addView(remote);
    f.w->loadViewsBut_Click();
    settle(*f.w);
    EXPECT_EQ(ui(*f.w).actionArgsTxt->text(),
              QStringLiteral(" -force -root -recurse -chown {owner} -chgrp {group} "));
    f.run();
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.texts().join(u'\n').toStdString();

    const QStringList here = f.fixWords(local);
    QStringList expected;
    // Locally: sudo unless Tessaly already is root, and no remote shell.
    if (!plat::running_as_root())
        expected.append(QStringLiteral("sudo|-n|") + here.join(u'|'));
    expected.append(QStringLiteral("fix_prot|") + here.mid(1).join(u'|'));
    expected.append(QStringLiteral("cleartool|endview|-server|here"));
    // Remotely: the remote shell, given the host and each word quoted once,
    // the storage lock's command (sh -c SCRIPT ...) first.
    const QStringList there = f.fixWords(remote);
    QStringList quoted;
    for (const QString& w : QStringList{q(f.sim.home().sudoPath()), QStringLiteral("-n")} + there)
        quoted.append(process::shell_quote(w));
    expected.append(QStringLiteral("ssh|ccview02|") + quoted.join(u'|'));
    expected.append(QStringLiteral("sudo|-n|") + there.join(u'|'));
    expected.append(QStringLiteral("fix_prot|-force|-root|-recurse|-chown|jsmith|-chgrp|dev|") +
                    q(remote.storage));
    expected.append(QStringLiteral("cleartool|endview|-server|there"));
    EXPECT_EQ(f.programs(), expected);
    // The storage lock's command comes first on the host, before sudo.
    for (const ccsim::JournalEntry& e : f.sim.home().journal()) {
        if (e.program == "ssh") {
            EXPECT_EQ(std::vector<std::string>(e.args.begin() + 1, e.args.begin() + 3),
                      (std::vector<std::string>{"sh", "-c"}));
        }
    }
    EXPECT_TRUE(f.sim.home().storageFixed("here"));
    EXPECT_TRUE(f.sim.home().storageFixed("there"));
}

TEST(OnTheStorageHost, WindowsArgumentsTypedInFailEveryViewWithNoEndview) {
    MsgRecorder boxes;
    HostRun f;
    f.add("a", "ccview01");
    f.add("b", "ccview02");
    QLineEdit* args = ui(*f.w).actionArgsTxt;
    args->selectAll();
    QTest::keyClicks(args, QStringLiteral(" -force -root -recover -recurse "));
    f.run();
    ASSERT_EQ(boxes.boxes.size(), 1) << boxes.texts().join(u'\n').toStdString();
    const QString text = boxes.last().text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("fix_prot did not succeed for 2 of 2 views:\r\n"
                                               "a: exit status 1: ")))
        << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("-recover is supported on Windows only")), 2);
    EXPECT_TRUE(f.stopped().isEmpty());
}

TEST(OnTheStorageHost, AViewThatCannotBeNamedOrReachedIsNeverStarted) {
    // No Owner line: the view is skipped with a box of its own. A server
    // host that reads as an option never reaches the remote shell.
    MsgRecorder boxes;
    HostRun f;
    f.add("a", "ccview01");
    f.add("b", "ccview01");
    f.add("c", "-oProxyCommand=touch /tmp/tessaly-injected");
    f.sim.home().setViewFault("a", "no_owner");
    f.run();
    ASSERT_EQ(boxes.boxes.size(), 2) << boxes.texts().join(u'\n').toStdString();
    EXPECT_EQ(boxes.boxes[0].text,
              QStringLiteral("View a was skipped: lsview -properties -full names no owner to "
                             "fill {owner} in the arguments."));
    EXPECT_EQ(boxes.boxes[1].text,
              QStringLiteral("ERROR:the server host of view c is not a usable host name: "
                             "-oProxyCommand=touch /tmp/tessaly-injected: Couldn't get view "
                             "storage"));
    EXPECT_EQ(f.stopped(), QStringList{QStringLiteral("b")});
    EXPECT_EQ(f.sim.journal("ssh").size(), 1);
    EXPECT_FALSE(f.sim.home().storageFixed("a"));
}

TEST(OnTheStorageHost, RemoteShellAndSudoRefusalsAreFailedRepairs) {
    MsgRecorder boxes;
    HostRun f;
    f.add("a", "ccview01");
    f.add("b", "ccview02");
    f.sim.home().setFault("ssh_unreachable", "ccview01");
    f.run();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("fix_prot did not succeed for 1 of 2 views:\r\n"
                             "a: exit status 255: ssh: connect to host ccview01 port 22: "
                             "Connection timed out"));
    EXPECT_EQ(f.stopped(), QStringList{QStringLiteral("b")});

    boxes.boxes.clear();
    f.sim.home().clearFaults();
    f.sim.home().setFault("sudo_password");
    f.sim.home().breakStorage();
    f.run();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text, QStringLiteral("fix_prot did not succeed for 2 of 2 views:\r\n"
                                                "a: exit status 1: sudo: a password is required\r\n"
                                                "b: exit status 1: sudo: a password is required"));
    EXPECT_TRUE(f.stopped().isEmpty());
    EXPECT_FALSE(f.sim.home().storageFixed("a"));
}

TEST(OnTheStorageHost, AHostLostTwiceIsGivenUpAndItsOtherViewsNamedOnce) {
    // ccview01 never answers: its first two views are tried, the rest are
    // not, and the run goes on with ccview02's view in list order.
    MsgRecorder boxes;
    HostRun f;
    for (const char* tag : {"a1", "a2", "a3"})
        f.add(tag, "ccview01");
    f.add("b1", "ccview02");
    f.add("c1", "ccview01");
    f.sim.home().setFault("ssh_unreachable", "ccview01");
    f.w->loadViewsBut_Click();
    settle(*f.w);
    ui(*f.w).runModeCombo->setCurrentIndex(1); // Hide
    f.w->runModeCombo_Click();
    ui(*f.w).viewsModel->setCheckedWhere(true, {});
    f.sim.home().clearJournal();
    QTest::mouseClick(ui(*f.w).executeFixProtBut, Qt::LeftButton);
    settle(*f.w);

    QStringList reached;
    for (const QString& e : f.sim.journal("ssh"))
        reached.append(e.section(u'|', 1, 1));
    EXPECT_EQ(reached, (QStringList{QStringLiteral("ccview01"), QStringLiteral("ccview01"),
                                    QStringLiteral("ccview02")}));
    EXPECT_EQ(f.stopped(), QStringList{QStringLiteral("b1")});
    ASSERT_EQ(boxes.boxes.size(), 2) << boxes.texts().join(u'\n').toStdString();
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(
        QStringLiteral("fix_prot did not succeed for 2 of 3 views:\r\na1: exit status 255: ")))
        << boxes.boxes[0].text.toStdString();
    EXPECT_EQ(boxes.boxes[1].text,
              QStringLiteral("Host ccview01 could not be reached for two views in a row; its "
                             "other 2 checked views were not started:\r\na3\r\nc1"));
    EXPECT_EQ(boxes.boxes[1].icon, MsgIcon::Warning);
}
