// SPDX-License-Identifier: Apache-2.0
// The ccsim admin tool, and damaged or missing home files.
#include "simtest.h"

#include "internal.h"

using namespace simtest;

TEST_F(SimTest, CliInitListAddViewAndFaults) {
    const std::string h = tmp_ + "/cli home";
    Result r = tool({"init", h, "--views", "20", "--hosts", "2", "--seed", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("20 views"), std::string::npos);
    ccsim::Home home(h);
    EXPECT_EQ(home.views().size(), 20u);
    EXPECT_TRUE(home.strict()) << "a new home is as strict as UNIX ClearCase";
    EXPECT_EQ(tool({"init", h}).status, 1) << "an existing home is not overwritten";
    ASSERT_EQ(tool({"init", h, "--force", "--views", "5", "--lenient"}).status, 0);
    EXPECT_EQ(home.views().size(), 5u);
    EXPECT_FALSE(home.strict());

    const std::string cs = tmp_ + "/cs";
    ccsim::detail::writeFileAtomic(cs, "element * /main/LATEST\n");
    r = tool({"add-view", h, "--tag", "my view", "--host", "ccview09", "--active", "--snapshot",
              "--config-spec-file", cs});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = home.find("my view");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(r.out, v->storage + "\n");
    EXPECT_TRUE(v->active && v->snapshot && !v->ucm);
    EXPECT_EQ(v->configSpec, "element * /main/LATEST\n");
    EXPECT_NE(tool({"list", h}).out.find("as- my view\tccview09\t"), std::string::npos);

    EXPECT_EQ(tool({"fault", h, "--view", "my view", "lsview_fail=boom"}).status, 0);
    EXPECT_EQ(tool({"fault", h, "crlf"}).status, 0);
    EXPECT_EQ(home.faults().size(), 2u);
    EXPECT_EQ(run(home.cleartoolPath(), {"lsview", "my view"}).err, "boom\r\n");
    r = tool({"fault", h, "nonsense=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown command-wide fault"), std::string::npos);
    EXPECT_EQ(tool({"clear-faults", h}).status, 0);
    EXPECT_TRUE(home.faults().empty());

    run(home.fixProtPath(), {"-force", v->storage});
    EXPECT_TRUE(home.storageFixed("my view"));
    EXPECT_EQ(tool({"break-storage", h, "my view"}).status, 0);
    EXPECT_FALSE(home.storageFixed("my view"));
    EXPECT_NE(tool({"journal", h}).out.find("fix_prot \"-force\""), std::string::npos);
}

TEST_F(SimTest, CliDemoAndHelp) {
    const std::string h = tmp_ + "/demo";
    ASSERT_EQ(tool({"init", h, "--demo"}).status, 0);
    EXPECT_GE(ccsim::Home(h).views().size(), 200u);
    const Result help = tool({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"init", "add-view", "fault", "clear-faults", "break-storage",
                             "fixprot_crash", "listing_fail", "CLEARCASEHOME"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST_F(SimTest, CliBadUsage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"frobnicate"},
                                                 {"init"},
                                                 {"init", tmp_ + "/x", "--views"},
                                                 {"init", tmp_ + "/y", "--views", "many"},
                                                 {"add-view", home_->dir(), "--tag", "t"},
                                                 {"list", tmp_ + "/nowhere"},
                                                 {"fault", home_->dir()},
                                                 {"init", tmp_ + "/z", "--bad"}}) {
        const Result r = tool(args);
        EXPECT_EQ(r.status, 1) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(r.err.rfind("ccsim: ", 0), 0u) << r.err;
        EXPECT_EQ(r.signal, 0);
    }
}

TEST_F(SimTest, DamagedRegistryGivesAClearMessage) {
    add("v");
    ccsim::detail::writeFileAtomic(home_->registryPath(),
                                   std::string("# ccsim registry 1\nbroken\xff\x00line\n", 33));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"lsview"},
                                                 {"catcs", "-tag", "v"},
                                                 {"endview", "-server", "v"}}) {
        const Result r = ct(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.signal, 0);
        EXPECT_NE(r.err.find("cleartool: Error: view registry"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("damaged at line 2"), std::string::npos) << r.err;
    }
    EXPECT_THROW(home_->views(), ccsim::Error);
    const Result f = fixProt({"-force", tmp_});
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find("fix_prot: Error: view registry"), std::string::npos);
}

TEST_F(SimTest, DamagedFaultsFileAndJournalGiveClearMessages) {
    add("v");
    ccsim::detail::writeFileAtomic(home_->faultsPath(), "global\tonly-two\n");
    Result r = ct({"lsview", "-s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("fault file"), std::string::npos) << r.err;
    EXPECT_THROW(home_->faults(), ccsim::Error);
    home_->clearFaults();
    EXPECT_EQ(ct({"lsview", "-s"}).out, "v\n");

    ccsim::detail::writeFileAtomic(home_->journalPath(), "not a journal line\n");
    EXPECT_THROW(home_->journal(), ccsim::Error);
    // A torn last line (a call still writing) is ignored.
    ccsim::detail::writeFileAtomic(home_->journalPath(), "1\t2\tcleartool\tlsview\n3\t4\tcle");
    EXPECT_EQ(home_->journal().size(), 1u);
}

TEST_F(SimTest, MissingHomesAndRegistries) {
    EXPECT_THROW(ccsim::Home{tmp_ + "/nowhere"}, ccsim::Error);
    EXPECT_THROW(ccsim::Home{tmp_}, ccsim::Error) << "a plain directory is not a home";
    EXPECT_THROW(ccsim::Home::create(home_->dir()), ccsim::Error);
    ::unlink(home_->registryPath().c_str());
    const Result r = ct({"lsview"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not inside a ccsim home"), std::string::npos) << r.err;
}

TEST_F(SimTest, CliStrictLocalHostHintAndHelp) {
    const std::string h = tmp_ + "/strict home";
    Result r = tool({"init", h, "--strict", "--local-host", "ccview07"});
    ASSERT_EQ(r.status, 0) << r.err;
    ccsim::Home home(h);
    EXPECT_TRUE(home.strict());
    EXPECT_EQ(home.localHost(), "ccview07");
    EXPECT_EQ(tool({"local-host", h}).out, "ccview07\n");
    // The hint is a command to paste: the home quoted, Tessaly beside the tool's build.
    const std::string build = ccsim::detail::dirName(ccsim::detail::dirName(CCSIM_TOOL_PATH));
    EXPECT_NE(r.out.find("CLEARCASEHOME='" + home.dir() + "' "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" " + build + "/src/tessaly\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TESSALY_SSH='" + home.sshPath() + "'"), std::string::npos) << r.out;
    EXPECT_EQ(tool({"strict", h, "off"}).status, 0);
    EXPECT_FALSE(home.strict());
    EXPECT_EQ(tool({"strict", h, "maybe"}).status, 1);
    EXPECT_EQ(tool({"local-host", h, ""}).status, 0);
    EXPECT_EQ(home.localHost(), ccsim::detail::systemHostName(true));

    // Every fault is documented in --help.
    const std::string help = tool({"--help"}).out;
    for (const auto* names : {ccsim::detail::kViewFaultNames, ccsim::detail::kGlobalFaultNames})
        for (; *names; ++names)
            EXPECT_NE(help.find(*names), std::string::npos) << *names;
    for (const char* word : {"strict HOME on|off", "CCSIM_ROOT", "CCSIM_HOST", "var/ccsim/bin/ssh"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}
