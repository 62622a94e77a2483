// SPDX-License-Identifier: Apache-2.0
// Strict UNIX mode: fix_prot as UNIX ClearCase runs it (as root, on the
// storage host, with -chown and -chgrp), reached through the ssh and sudo
// stand-ins.
#include "simtest.h"

#include "internal.h"

#include <chrono>

using namespace simtest;

namespace {

// Quotes a word for a POSIX shell as a caller of ssh must: 'it'\''s'.
std::string q(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Strict : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        home_->setLocalHost("ccview01");
        home_->setStrict(true);
        ccsim::View v;
        v.tag = "it's a $view";
        v.host = "ccview02";
        v.owner = "j smith";
        v.group = "dev team";
        remote = home_->addView(v);
        local = add("local_view", "ccview01");
    }
    // The remote command for one fix_prot run, each word quoted.
    std::string remoteCommand(const std::vector<std::string>& words) const {
        std::string cmd = q(home_->sudoPath()) + " -n " + q(home_->fixProtPath());
        for (const auto& w : words)
            cmd += " " + q(w);
        return cmd;
    }
    Result sudo(const std::vector<std::string>& args) const { return run(home_->sudoPath(), args); }
    Result ssh(const std::vector<std::string>& args) const { return run(home_->sshPath(), args); }
    std::vector<std::string> unixArgs(const ccsim::View& v, const std::string& path) const {
        return {"-force", "-root", "-recurse", "-chown", v.owner, "-chgrp", v.group, path};
    }
    ccsim::View remote, local;
};

} // namespace

TEST_F(Strict, FixProtRefusesWindowsOptionsAndMissingPrivileges) {
    const std::string fp = home_->fixProtPath();
    Result r = sudo({"-n", fp, "-force", "-root", "-recover", "-recurse", local.storage});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("fix_prot: Error: -recover is supported on Windows only"),
              std::string::npos)
        << r.err;
    r = sudo({"-n", fp, "-force", "-root", "-chown", "ccadm", local.storage});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("-root requires both -chown and -chgrp"), std::string::npos) << r.err;
    // An account marked as not root, whatever the tests run as.
    ::setenv("CCSIM_ROOT", "0", 1);
    r = fixProt(unixArgs(local, local.storage));
    ::unsetenv("CCSIM_ROOT");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("must be run as root"), std::string::npos) << r.err;
    // Root, but on the wrong host for the remote view.
    r = sudo({"-n", fp, "-force", "-root", "-recurse", "-chown", "j smith", "-chgrp", "dev team",
              remote.storage});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Operation not permitted (the storage is on host 'ccview02'"),
              std::string::npos)
        << r.err;
    // A name that is neither a real account nor a view's owner.
    r = sudo(
        {"-n", fp, "-force", "-root", "-chown", "DOM/ccadm", "-chgrp", "ccusers", local.storage});
    EXPECT_NE(r.err.find("Unknown user \"DOM/ccadm\""), std::string::npos) << r.err;
    EXPECT_FALSE(home_->storageFixed("local_view"));
    EXPECT_FALSE(home_->storageFixed(remote.tag));

    // Off again, the old Windows-style command works as before.
    home_->setStrict(false);
    EXPECT_EQ(fixProt({"-force", "-root", "-recover", "-recurse", local.storage}).status, 0);
    EXPECT_TRUE(home_->storageFixed("local_view"));
}

TEST_F(Strict, RepairsThroughSshAndSudoGivenTheAccessOrTheGlobalPath) {
    // The global path is another real path to the storage; the access path
    // is the storage itself.
    const std::string global = home_->globalPath(remote.tag);
    EXPECT_EQ(global, home_->dir() + "/var/ccsim/net/ccview02/it's a $view.vws");
    EXPECT_EQ(ccsim::detail::realPath(global), remote.storage);
    const Result ls = ct({"lsview", "-long", remote.tag});
    EXPECT_NE(ls.out.find("  Global path: " + global + "\n"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("View server access path: " + remote.storage + "\n"), std::string::npos);
    EXPECT_EQ(ct({"lsview", remote.tag}).out,
              "  it's a $view" + std::string(13, ' ') + global + "\n");

    home_->clearJournal();
    const std::string cmd = remoteCommand(unixArgs(remote, remote.storage));
    Result r = ssh({"-o", "BatchMode=yes", "-o", "ConnectTimeout=15", "ccview02", cmd});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(home_->storageFixed(remote.tag));
    const auto j = home_->journal();
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[0].program, "ssh");
    EXPECT_EQ(j[0].args, (std::vector<std::string>{"-o", "BatchMode=yes", "-o", "ConnectTimeout=15",
                                                   "ccview02", cmd}));
    EXPECT_EQ(j[1].program, "sudo");
    EXPECT_EQ(j[2].program, "fix_prot");
    // Blanks, quotes and $ arrive as single, intact words.
    EXPECT_EQ(j[2].args, unixArgs(remote, remote.storage));

    home_->breakStorage();
    EXPECT_EQ(ssh({"-n", "ccview02", remoteCommand(unixArgs(remote, global))}).status, 0);
    EXPECT_TRUE(home_->storageFixed(remote.tag));
    // The local view needs no ssh, only sudo.
    r = sudo({"-n", home_->fixProtPath(), "-force", "-root", "-recurse", "-chown", "ccadm",
              "-chgrp", "ccusers", home_->globalPath("local_view")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(home_->storageFixed("local_view"));
}

TEST_F(Strict, SshRunsTheJoinedWordsInARemoteShell) {
    const std::vector<std::string> words = {"a b", "it's", "$HOME", "`id`", "x;y", " lead"};
    std::string cmd = "printf '[%s]\\n'";
    for (const auto& w : words)
        cmd += " " + q(w);
    // Unquoted words are expanded remotely, as a real remote shell does.
    cmd += " \"$CCSIM_HOST\" \"${CCSIM_ROOT-unset}\"";
    Result r = ssh({"-o", "BatchMode=yes", "user@ccview02", cmd});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[a b]\n[it's]\n[$HOME]\n[`id`]\n[x;y]\n[ lead]\n[ccview02]\n[0]\n");
    // Words given apart are joined with blanks, not kept apart.
    EXPECT_EQ(ssh({"ccview02", "printf", "'[%s]'", "a  b"}).out, "[a][b]");
    // The remote status comes back; localhost is the local host.
    r = ssh({"localhost", "echo $CCSIM_HOST; exit 3"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "ccview01\n");
}

TEST_F(Strict, SshAndSudoFailuresAsTheRealOnesReportThem) {
    home_->setFault("ssh_unreachable", "ccview03,ccview02");
    home_->clearJournal();
    Result r = ssh({"-n", "ccview02", remoteCommand(unixArgs(remote, remote.storage))});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "ssh: connect to host ccview02 port 22: Connection timed out\n");
    EXPECT_EQ(home_->journal().size(), 1u) << "nothing ran remotely";
    EXPECT_EQ(ssh({"ccview01", "true"}).status, 0) << "other hosts stay reachable";
    r = ssh({"nosuchhost", "true"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "ssh: Could not resolve hostname nosuchhost: Name or service not known\n");
    home_->setFault("ssh_delay_ms", "300");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ssh({"ccview02", "true"}).status, 255);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count(),
              300);

    home_->setFault("sudo_password");
    home_->clearJournal();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-n", home_->fixProtPath(), local.storage},
          {home_->fixProtPath(), local.storage}}) {
        r = sudo(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "sudo: a password is required\n");
    }
    const auto j = home_->journal();
    ASSERT_EQ(j.size(), 2u) << "fix_prot never ran";
    EXPECT_EQ(j[0].program, "sudo");
    home_->clearFaults();
    r = sudo({"-n", "--", "no_such_program_xyz"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sudo: no_such_program_xyz: command not found\n");
    EXPECT_EQ(sudo({"-n"}).status, 1);
}

TEST_F(Strict, SshTimeoutDelaysOnlyTheUnreachableHosts) {
    EXPECT_THROW(home_->setFault("ssh_timeout_ms", "soon"), ccsim::Error);
    home_->setFault("ssh_unreachable", "ccview02");
    home_->setFault("ssh_timeout_ms", "400");
    const auto timed = [&](const std::string& host, Result& r) {
        const auto start = std::chrono::steady_clock::now();
        r = ssh({"-o", "BatchMode=yes", host, "true"});
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    Result r;
    EXPECT_GE(timed("ccview02", r), 400);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "ssh: connect to host ccview02 port 22: Connection timed out\n");
    EXPECT_LT(timed("ccview01", r), 400);
    EXPECT_EQ(r.status, 0) << r.err;
}
