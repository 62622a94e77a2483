// SPDX-License-Identifier: Apache-2.0
// The process layer with real child processes (tsy_child.exe, next to the
// test program) under Wine.
#include "platform/process_win.h"

#include "winsupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::string child_exe() {
    return wintest::exe_dir() + "tsy_child.exe";
}

// The words tsy_argv wrote down ("<length>:<bytes>" lines); a malformed
// record ends the list with a word saying so.
std::vector<std::string> argv_record(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t colon = text.find(':', at);
        const std::size_t length =
            colon == std::string::npos ? 0 : std::stoul(text.substr(at, colon - at));
        if (colon == std::string::npos || colon + 1 + length >= text.size() ||
            text[colon + 1 + length] != '\n') {
            words.push_back("<malformed record>");
            break;
        }
        words.push_back(text.substr(colon + 1, length));
        at = colon + 2 + length;
    }
    return words;
}

// Starts programs as plat::start_program does and keeps, for every start
// that reached CreateProcessA, its record and a handle of its own on the
// started child, so that tests can see whether it still runs afterwards.
class ProcessTest : public ::testing::Test {
protected:
    std::unique_ptr<plat::Child> start(const std::string& program,
                                       const std::vector<std::string>& arguments, int style,
                                       std::string& error, bool ownProcessGroup = false) {
        plat::StartRecord r;
        auto child = plat::start_program(program, arguments, style, error, ownProcessGroup, &r);
        if (!r.commandLine.empty()) {
            m_records.push_back(r);
            if (r.started)
                m_children.push_back(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                                                 FALSE, r.processId));
        }
        return child;
    }
    void TearDown() override {
        for (HANDLE h : m_children) {
            WaitForSingleObject(h, 10000);
            CloseHandle(h);
        }
    }

    bool stillRunning(std::size_t child) {
        return WaitForSingleObject(m_children.at(child), 0) == WAIT_TIMEOUT;
    }
    DWORD exitCodeAfterEnd(std::size_t child) {
        EXPECT_EQ(WaitForSingleObject(m_children.at(child), 10000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(m_children.at(child), &code);
        return code;
    }

    std::vector<plat::StartRecord> m_records;
    std::vector<HANDLE> m_children;
};

TEST_F(ProcessTest, WindowStyleReachesTheChildsStartupInfoAndTheCommandLineArrivesUnchanged) {
    wintest::ScratchDir dir("styles");
    for (int style : {0, 1, 2}) {
        const std::string record = dir.path() + "style " + std::to_string(style) + ".txt";
        std::string error;
        const auto child = start(child_exe(), {"0", "0", record}, style, error);
        ASSERT_TRUE(child) << error;
        ASSERT_EQ(WaitForSingleObject(child->handle(), 10000), WAIT_OBJECT_0);

        ASSERT_EQ(m_records.size(), static_cast<std::size_t>(style + 1));
        const plat::StartRecord& r = m_records.back();
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.flags, static_cast<std::uint32_t>(STARTF_USESHOWWINDOW));
        EXPECT_EQ(r.showWindow, style);
        EXPECT_EQ(r.commandLine, plat::command_line(child_exe(), {"0", "0", record}));

        // What the child itself saw: the style, and the command line as it
        // was handed to CreateProcessA.
        EXPECT_EQ(wintest::read_file(record),
                  "flags=1\nshow=" + std::to_string(style) + "\ncmd=" + r.commandLine + "\n");
    }
}

TEST_F(ProcessTest, ArgumentsArriveExactlyInTheChildsArgv) {
    wintest::ScratchDir dir("argv");
    // The program itself lies in a folder whose name has a blank and a
    // letter of the ANSI code page.
    const std::string program = dir.dir("caf\xe9 bin") + "\\tsy argv.exe";
    ASSERT_TRUE(CopyFileA((wintest::exe_dir() + "tsy_argv.exe").c_str(), program.c_str(), FALSE));
    const std::string record = dir.path() + "argv.txt";
    ASSERT_TRUE(SetEnvironmentVariableA("TSY_ARGV_OUT", record.c_str()));

    const std::vector<std::string> arguments = {
        "-force",
        "",
        "two words",
        "tab\there",
        "  padded  ",
        "say \"hi\"",
        "\"",
        "\"\"",
        "C:\\plain\\trailing\\",
        "C:\\with blank\\trailing\\",
        "\\\\server\\share\\view storage\\x.vws\\\\",
        "back\\\"quote",
        "two\\\\\"quotes and blank",
        "\\\"",
        "a\\\\b c\\d",
        "caf\xe9 na\xefve \xc0 \xfc",
        "end\\ \"",
    };
    std::string error;
    const auto child = start(program, arguments, 0, error, true);
    ASSERT_TRUE(child) << error;
    ASSERT_EQ(WaitForSingleObject(child->handle(), 10000), WAIT_OBJECT_0);
    ASSERT_EQ(child->exitCode(), std::optional<std::uint32_t>(0u));

    std::vector<std::string> expected{program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(argv_record(wintest::read_file(record)), expected);
    ASSERT_EQ(m_records.size(), 1u);
    EXPECT_EQ(m_records[0].showWindow, 0);
    EXPECT_NE(m_records[0].creationFlags & CREATE_NEW_PROCESS_GROUP, 0u);
}

TEST_F(ProcessTest, ExitCodeIsKnownOnlyOnceTheChildHasEnded) {
    std::string error;
    // 259 is STILL_ACTIVE, which GetExitCodeProcess also answers while the
    // program runs; 0xC0000005 is an access violation's status.
    const auto running = start(child_exe(), {"400", "259"}, 0, error);
    ASSERT_TRUE(running) << error;
    const auto crashed = start(child_exe(), {"0", "3221225477"}, 0, error);
    ASSERT_TRUE(crashed) << error;
    EXPECT_EQ(m_records.at(0).creationFlags & CREATE_NEW_PROCESS_GROUP, 0u);
    EXPECT_FALSE(running->ended());
    EXPECT_EQ(running->exitCode(), std::nullopt);
    ASSERT_EQ(WaitForSingleObject(running->handle(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(running->ended());
    EXPECT_EQ(running->exitCode(), std::optional<std::uint32_t>(259u));
    EXPECT_FALSE(plat::ended_by_exception(259u));
    ASSERT_EQ(WaitForSingleObject(crashed->handle(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(crashed->exitCode(), std::optional<std::uint32_t>(0xC0000005u));
    EXPECT_TRUE(plat::ended_by_exception(0xC0000005u));

    // Letting go of a running child closes its handles and leaves it running.
    {
        const auto dropped = start(child_exe(), {"500", "6"}, 0, error);
        ASSERT_TRUE(dropped) << error;
    }
    ASSERT_EQ(m_children.size(), 3u);
    EXPECT_TRUE(stillRunning(2));
    EXPECT_EQ(exitCodeAfterEnd(2), 6u);
}

TEST_F(ProcessTest, ProgramThatCannotStartIsReportedWithTheSystemsText) {
    std::string error;
    EXPECT_EQ(start("C:\\nowhere\\fix_prot.exe", {"-root"}, 1, error), nullptr);
    EXPECT_EQ(error, "File not found.");
    ASSERT_EQ(m_records.size(), 1u);
    EXPECT_FALSE(m_records[0].started);
    // A quote cannot be part of a Windows path and would shift every word.
    error.clear();
    EXPECT_EQ(start(child_exe() + "\" x", {"0", "0"}, 0, error), nullptr);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_EQ(start(std::string(), {}, 0, error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(m_records.size(), 1u);
}

} // namespace
