// SPDX-License-Identifier: Apache-2.0
// The fix_prot command's pieces: the storage path taken from lsview, the
// owner and group, and where and as whom it runs on UNIX ClearCase.
#include "cc/lsviewparse.h"
#include "process/commandline.h"
#include "qtprint.h"
#include "repair/fixprot.h"

#include <QScopeGuard>
#include <QSysInfo>

#include <gtest/gtest.h>

using namespace tsy;

TEST(ViewStorage, TakesThePathFromTheEarliestMarkerOfTheTagsOwnLine) {
    const Result<QString> found = repair::storage_from_lookup(
        QStringLiteral("* my_view   /net/vws/my_view.vws\n"), QStringLiteral("my_view"));
    EXPECT_EQ(found.value(), QStringLiteral("/net/vws/my_view.vws"));
    EXPECT_TRUE(found.error().isEmpty());
    // Trailing blanks and tabs are not part of the path.
    EXPECT_EQ(repair::storage_from_lookup(QStringLiteral("  a b  /vws/a b.vws \t\r\n"),
                                          QStringLiteral("a b"))
                  .value(),
              QStringLiteral("/vws/a b.vws"));
    // Output that cannot be trusted gives no path, and says why.
    const struct {
        const char* output;
        const char* why;
    } bad[] = {
        {"no marker here", "lsview printed no storage path for view x"},
        {"", "lsview printed no storage path for view x"},
        {"  other  /vws/other.vws\n", "lsview answered for view \"other\" instead of x"},
        {"  x  /vws/x.vws\n  y  /vws/y.vws\n", "lsview printed 2 lines for view x"},
        {"  x  /\n", "lsview gave the root directory as the storage of view x: /"},
        {"  x  //\n", "lsview gave the root directory as the storage of view x: //"},
        {"  x  /.\n", "lsview gave the root directory as the storage of view x: /."},
        {"  x  /net/..\n",
         "lsview gave a storage path that climbs with \"..\" for view x: /net/.."},
    };
    for (const auto& b : bad) {
        const Result<QString> refused =
            repair::storage_from_lookup(QString::fromUtf8(b.output), QStringLiteral("x"));
        EXPECT_EQ(refused.value(), QString()) << b.output;
        EXPECT_EQ(refused.error(), QString::fromUtf8(b.why)) << b.output;
    }
    // A byte that is not UTF-8 is kept as a lone surrogate; the ".." before
    // it still counts.
    const QString odd = cc::decode_output("  x  /../..=\xaeo..\n");
    const Result<QString> climbs = repair::storage_from_lookup(odd, QStringLiteral("x"));
    EXPECT_FALSE(climbs.ok());
    EXPECT_TRUE(climbs.error().contains(QStringLiteral("climbs"))) << climbs.error().toStdString();
}

TEST(UnixCommand, OwnerAndGroupComeFromThePropertyLinesWithoutTheirDomain) {
    QString owner, group;
    repair::owner_and_group(QStringLiteral("Created 2024-01-01 by a.b@h\n"
                                           "Owner: CORP/jsmith        : rwx (all)\r\n"
                                           "Group: CORP\\dev team      : rwx (all)\n"
                                           "Other:                  : r-x (read)\n"),
                            owner, group);
    EXPECT_EQ(owner, QStringLiteral("jsmith"));
    EXPECT_EQ(group, QStringLiteral("dev team"));
    repair::owner_and_group(QStringLiteral("Group: ccusers : rwx (all)\n"), owner, group);
    EXPECT_TRUE(owner.isEmpty());

    // Filled wherever they stand; a placeholder with nothing to fill it is
    // named, and nothing is filled with an empty name.
    QStringList words{QStringLiteral("-chown"), QStringLiteral("{owner}"),
                      QStringLiteral("--as={owner}:{group}")};
    EXPECT_TRUE(
        repair::fill_placeholders(words, QStringLiteral("jo"), QStringLiteral("g")).isEmpty());
    EXPECT_EQ(words, (QStringList{QStringLiteral("-chown"), QStringLiteral("jo"),
                                  QStringLiteral("--as=jo:g")}));
    words = QStringList{QStringLiteral("-chgrp"), QStringLiteral("{group}")};
    EXPECT_EQ(repair::fill_placeholders(words, QStringLiteral("jo"), QString()),
              QStringList{QStringLiteral("{group}")});
    words = QStringList{QStringLiteral("-force")};
    EXPECT_TRUE(repair::fill_placeholders(words, QString(), QString()).isEmpty());
}

TEST(UnixCommand, RemoteWordsAreQuotedOnceAndLocalOnesGoAsTheyAre) {
    repair::Reach reach;
    reach.remoteShell = {QStringLiteral("ssh"), QStringLiteral("-o"),
                         QStringLiteral("BatchMode=yes")};
    reach.privilege = {QStringLiteral("sudo"), QStringLiteral("-n")};
    const QStringList fix{QStringLiteral("/cc/fix_prot"), QStringLiteral("/vws/it's a $view")};
    EXPECT_EQ(
        repair::command_on_host(reach, QStringLiteral("ccview02"), fix),
        (QStringList{QStringLiteral("ssh"), QStringLiteral("-o"), QStringLiteral("BatchMode=yes"),
                     QStringLiteral("ccview02"), QStringLiteral("sudo"), QStringLiteral("-n"),
                     QStringLiteral("/cc/fix_prot"), QStringLiteral("'/vws/it'\\''s a $view'")}));
    EXPECT_EQ(repair::command_on_host(reach, QStringLiteral("localhost"), fix),
              QStringList{QStringLiteral("sudo")} + QStringList{QStringLiteral("-n")} + fix);
    reach.root = true;
    EXPECT_EQ(repair::command_on_host(reach, QSysInfo::machineHostName(), fix), fix);
    for (const char* bad : {"", "-oProxyCommand=x", "two words", "tab\there"})
        EXPECT_FALSE(repair::usable_host(QString::fromUtf8(bad))) << bad;
    EXPECT_TRUE(repair::usable_host(QStringLiteral("ccview02.example.com")));
}

TEST(UnixCommand, ThisHostIsItsFullNameOrAnUnqualifiedShortName) {
    const auto here = [](const char* host, const char* full) {
        return repair::is_this_host(QString::fromUtf8(host), QStringLiteral("vm"),
                                    QString::fromUtf8(full));
    };
    EXPECT_TRUE(here("VM.SiteA.example.com", "vm.sitea.example.com"));
    EXPECT_TRUE(here("Vm", "vm.sitea.example.com"));
    EXPECT_TRUE(here("vm", ""));
    EXPECT_TRUE(here("localhost", ""));
    // Another domain's host of the same short name is reached through ssh,
    // and so is any qualified host while the full name is unknown.
    EXPECT_FALSE(here("vm.siteb.example.com", "vm.sitea.example.com"));
    EXPECT_FALSE(here("vm.siteb.example.com", "vm"));
    EXPECT_FALSE(here("vm.sitea.example.com", ""));
    EXPECT_FALSE(here("vmx", "vm"));
}

TEST(UnixCommand, RemoteShellAndPrivilegeAreSplitAsAPosixShellSplitsThem) {
    const Result<QStringList> words = process::shell_words(
        QStringLiteral("ssh -o 'ProxyCommand=ssh -W %h:%p jump' -o \"User=a b\" x\\ y "
                       "'it'\\''s' \"q\\\"b\\\\c\\$d\\x\" '' \t"));
    ASSERT_TRUE(words.ok()) << words.error().toStdString();
    EXPECT_EQ(words.value(),
              (QStringList{QStringLiteral("ssh"), QStringLiteral("-o"),
                           QStringLiteral("ProxyCommand=ssh -W %h:%p jump"), QStringLiteral("-o"),
                           QStringLiteral("User=a b"), QStringLiteral("x y"),
                           QStringLiteral("it's"), QStringLiteral("q\"b\\c$d\\x"), QString()}));
    for (const char* bad : {"ssh -o 'open", "sudo \"-n", "a'b\"c'\"d"}) {
        const Result<QStringList> split = process::shell_words(QString::fromUtf8(bad));
        EXPECT_FALSE(split.ok()) << bad;
        EXPECT_FALSE(split.error().isEmpty()) << bad;
    }

    const QByteArray saved = qgetenv("TESSALY_SSH");
    const auto restore = qScopeGuard([&] { qputenv("TESSALY_SSH", saved); });
    qputenv("TESSALY_SSH", "ssh -o 'ProxyCommand=nc %h 22'");
    repair::Reach reach = repair::reach_from_environment();
    EXPECT_TRUE(reach.problem.isEmpty());
    EXPECT_EQ(reach.remoteShell, (QStringList{QStringLiteral("ssh"), QStringLiteral("-o"),
                                              QStringLiteral("ProxyCommand=nc %h 22")}));
    qputenv("TESSALY_SSH", "ssh -o 'ProxyCommand=nc %h 22");
    reach = repair::reach_from_environment();
    EXPECT_TRUE(reach.problem.contains(QStringLiteral("TESSALY_SSH")))
        << reach.problem.toStdString();
    EXPECT_TRUE(reach.remoteShell.isEmpty());
}

TEST(UnixCommand, ACommandIsShownAsOneLineWithTheRemoteWordsQuotedOnce) {
    repair::Reach reach;
    reach.remoteShell = {QStringLiteral("ssh"), QStringLiteral("-o"),
                         QStringLiteral("BatchMode=yes")};
    reach.privilege = {QStringLiteral("/opt/bin/sudo"), QStringLiteral("-n")};
    const QStringList fix{QStringLiteral("/cc/fix_prot"), QStringLiteral("-chown"),
                          QStringLiteral("jo"), QStringLiteral("/vws/a.vws")};
    const QString host = QStringLiteral("ccview02.example.com");
    EXPECT_EQ(repair::shown_command(reach, repair::command_on_host(reach, host, fix)),
              QStringLiteral("ssh -o 'BatchMode=yes' ccview02.example.com "
                             "\"/opt/bin/sudo -n /cc/fix_prot -chown jo /vws/a.vws\""));
    const QStringList odd{QStringLiteral("/cc/fix_prot"), QStringLiteral("/vws/it's $x \"y\"")};
    EXPECT_EQ(repair::shown_command(reach, repair::command_on_host(reach, host, odd)),
              QStringLiteral("ssh -o 'BatchMode=yes' ccview02.example.com "
                             "\"/opt/bin/sudo -n /cc/fix_prot '/vws/it'\\\\''s \\$x \\\"y\\\"'\""));
    EXPECT_EQ(repair::shown_command(
                  reach, repair::command_on_host(reach, QStringLiteral("localhost"), fix)),
              QStringLiteral("/opt/bin/sudo -n /cc/fix_prot -chown jo /vws/a.vws"));
}
