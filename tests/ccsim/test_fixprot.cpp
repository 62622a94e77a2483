// SPDX-License-Identifier: Apache-2.0
// fix_prot really repairs permissions, and refuses bad input clearly.
#include "simtest.h"

#include "internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

using namespace simtest;

TEST_F(SimTest, NewStorageHasBrokenPermissions) {
    const auto v = add("broken");
    EXPECT_FALSE(home_->storageFixed("broken"));
    EXPECT_EQ(modeOf(v.storage), 0700u);
    EXPECT_EQ(modeOf(v.storage + "/.pid"), 0666u);
    EXPECT_EQ(modeOf(v.storage + "/config_spec"), 0400u);
    EXPECT_EQ(modeOf(v.storage + "/db"), 0700u);
    EXPECT_EQ(slurp(v.storage + "/config_spec"), "element * CHECKEDOUT\nelement * /main/LATEST\n");
}

TEST_F(SimTest, FixProtFixesEveryEntryUnderThePath) {
    const auto v = add("fixme");
    // Extra content the layout does not know: an executable and a nested dir.
    ccsim::detail::makeDirs(v.storage + "/.s/deep/er", 0700);
    const int fd = ::open((v.storage + "/.s/deep/run.sh").c_str(), O_CREAT | O_WRONLY, 0700);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::symlink("/etc/passwd", (v.storage + "/link").c_str()), 0);
    const mode_t passwdMode = modeOf("/etc/passwd");

    const Result r = fixProt({"-force", "-root", "-recurse", "-chown", "root", "-chgrp", "root",
                              "-replace_server_process", v.storage});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(v.storage), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
    EXPECT_TRUE(home_->storageFixed("fixme"));
    EXPECT_EQ(modeOf(v.storage), 0775u);
    EXPECT_EQ(modeOf(v.storage + "/.pid"), 0664u);
    EXPECT_EQ(modeOf(v.storage + "/config_spec"), 0664u);
    EXPECT_EQ(modeOf(v.storage + "/.s/deep/er"), 0775u);
    EXPECT_EQ(modeOf(v.storage + "/.s/deep/run.sh"), 0775u);
    EXPECT_EQ(modeOf("/etc/passwd"), passwdMode) << "symlinks must not be followed";

    // Breaking again makes it fail the check again; fixing again fixes it.
    home_->breakStorage("fixme");
    EXPECT_FALSE(home_->storageFixed("fixme"));
    EXPECT_EQ(fixProt({v.storage, "-r", "-f"}).status, 0) << "options in any order";
    EXPECT_TRUE(home_->storageFixed("fixme"));
}

TEST_F(SimTest, FixProtTakesSeveralPathsAndReportsEachBadOne) {
    const auto a = add("a");
    const auto b = add("b");
    const std::string missing = tmp_ + "/does not exist";
    const std::string file = a.storage + "/.view";
    const Result r = fixProt({"-force", a.storage, missing, file, b.storage});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("fix_prot: Error: Unable to access \"" + missing +
                         "\": No such file or directory"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("fix_prot: Error: \"" + file + "\" is not a directory"), std::string::npos)
        << r.err;
    EXPECT_TRUE(home_->storageFixed("a"));
    EXPECT_TRUE(home_->storageFixed("b"));
}

TEST_F(SimTest, FixProtRejectsBadOptionsBeforeTouchingAnything) {
    const auto v = add("v");
    const std::vector<std::vector<std::string>> bad = {
        {"-force"},
        {},
        {"-bogus", v.storage},
        {"-chown"},
        {"-chown", "no_such_user_xyz", v.storage},
        {"-chgrp", "no_such_group_xyz", v.storage},
        {"-chmod", "u+q", v.storage},
        {"-type", "x", v.storage},
    };
    for (const auto& args : bad) {
        const Result r = fixProt(args);
        EXPECT_EQ(r.status, 1) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(r.err.rfind("fix_prot: Error: ", 0), 0u) << r.err;
        EXPECT_FALSE(home_->storageFixed("v"));
    }
    EXPECT_NE(fixProt({}).err.find("No storage path given"), std::string::npos);
    EXPECT_NE(fixProt({"-bogus", v.storage}).err.find("Unknown option \"-bogus\""),
              std::string::npos);
}

TEST_F(SimTest, FixProtChmodAndTypeOptions) {
    const auto v = add("v");
    EXPECT_EQ(fixProt({"-force", "-chmod", "0750", v.storage}).status, 0);
    EXPECT_EQ(modeOf(v.storage + "/db"), 0750u);
    EXPECT_EQ(modeOf(v.storage + "/.pid"), 0750u);
    home_->breakStorage("v");
    EXPECT_EQ(fixProt({"-force", "-type", "d", v.storage}).status, 0);
    EXPECT_EQ(modeOf(v.storage + "/db"), 0775u);
    EXPECT_EQ(modeOf(v.storage + "/.pid"), 0666u) << "files left alone with -type d";
    EXPECT_EQ(fixProt({"-force", "-chmod", "go-w", v.storage}).status, 0);
    EXPECT_EQ(modeOf(v.storage + "/.pid"), 0644u);
}

TEST_F(SimTest, FixProtOutsideAHomeSaysSo) {
    const Result r = run(CCSIM_TOOL_PATH, {"--help"});
    ASSERT_EQ(r.status, 0);
    // The built program in the build tree has no home around it.
    const std::string built = ccsim::detail::dirName(CCSIM_TOOL_PATH) + "/fix_prot";
    const Result f = run(built, {"-force", tmp_});
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find("not inside a ccsim home"), std::string::npos) << f.err;
    const Result c = run(ccsim::detail::dirName(CCSIM_TOOL_PATH) + "/cleartool", {"lsview"});
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("cleartool: Error: not inside a ccsim home"), std::string::npos);
}
