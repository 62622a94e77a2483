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

std::string child_command(int sleepMs, int exitCode, const std::string& record = {}) {
    // Built up step by step: GCC 12 warns falsely (-Wrestrict) on
    // "literal" + std::string&&.
    std::string cmd = "\"";
    cmd += child_exe() + "\" " + std::to_string(sleepMs) + " " + std::to_string(exitCode);
    if (!record.empty())
        cmd += " \"" + record + "\"";
    return cmd;
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

double now_ms() {
    return static_cast<double>(GetTickCount64());
}

// Watches every start: keeps the records and a handle of its own on each
// started child, so that tests can see whether it still runs afterwards.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = winproc::set_start_hook([this](const winproc::StartRecord& r) {
            m_records.push_back(r);
            if (r.started)
                m_children.push_back(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                                                 FALSE, r.processId));
        });
        wintest::drain_messages();
    }
    void TearDown() override {
        stopTimer();
        winproc::set_start_hook(m_previous);
        for (HANDLE h : m_children) {
            WaitForSingleObject(h, 10000);
            CloseHandle(h);
        }
    }

    // A thread timer, so that window messages keep arriving during a wait.
    void startTimer() { m_timer = SetTimer(nullptr, 0, 20, nullptr); }
    void stopTimer() {
        if (m_timer)
            KillTimer(nullptr, m_timer);
        m_timer = 0;
    }

    winproc::Pump countingPump() {
        return [this] {
            ++m_pumps;
            wintest::drain_messages();
        };
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

    std::vector<winproc::StartRecord> m_records;
    std::vector<HANDLE> m_children;
    int m_pumps = 0;

private:
    winproc::StartHook m_previous;
    UINT_PTR m_timer = 0;
};

TEST_F(ProcessTest, WindowStyleReachesTheChildsStartupInfo) {
    wintest::ScratchDir dir("styles");
    for (int style : {0, 1, 2}) {
        const std::string record = dir.path() + "style" + std::to_string(style) + ".txt";
        const std::string cmd = child_command(0, 0, record);
        std::vector<std::string> messages;
        winproc::run_and_wait(cmd, style, countingPump(),
                              [&](const std::string& m) { messages.push_back(m); });
        EXPECT_TRUE(messages.empty());

        ASSERT_EQ(m_records.size(), static_cast<std::size_t>(style + 1));
        const winproc::StartRecord& r = m_records.back();
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.flags, static_cast<std::uint32_t>(STARTF_USESHOWWINDOW));
        EXPECT_EQ(r.showWindow, style);

        // What the child itself saw.
        const std::string seen = wintest::read_file(record);
        EXPECT_NE(seen.find("flags=1\n"), std::string::npos) << seen;
        EXPECT_NE(seen.find("show=" + std::to_string(style) + "\n"), std::string::npos) << seen;
    }
}

TEST_F(ProcessTest, CommandLineIsPassedUnchanged) {
    wintest::ScratchDir dir("cmdline");
    const std::string record = dir.path() + "cmd.txt";
    // Odd spacing, a tab and an empty quoted argument must all survive.
    std::string cmd = "\"";
    cmd += child_exe() + "\"   0  0\t\"" + record + "\"  \"\"  \"a  b\" ";
    winproc::run_and_wait(cmd, 0, countingPump(), [](const std::string&) {});
    ASSERT_EQ(m_records.size(), 1u);
    EXPECT_EQ(m_records[0].commandLine, cmd);
    EXPECT_EQ(wintest::read_file(record), "flags=1\nshow=0\ncmd=" + cmd + "\n");
}

TEST_F(ProcessTest, WaitReturnsOnlyAfterTheChildEndedAndPumpsMeanwhile) {
    startTimer();
    const double begin = now_ms();
    winproc::run_and_wait(child_command(300, 0), 0, countingPump(), [](const std::string&) {});
    const double elapsed = now_ms() - begin;
    ASSERT_EQ(m_children.size(), 1u);
    EXPECT_FALSE(stillRunning(0));
    EXPECT_GE(elapsed, 300.0);
    EXPECT_GT(m_pumps, 0);
}

TEST_F(ProcessTest, WaitTakesNoProcessorTime) {
    const double cpuBefore = wintest::cpu_ms();
    const double begin = now_ms();
    winproc::run_and_wait(child_command(600, 0), 0, countingPump(), [](const std::string&) {});
    EXPECT_GE(now_ms() - begin, 600.0);
    // A polling loop would burn most of the 600 ms.
    EXPECT_LT(wintest::cpu_ms() - cpuBefore, 150.0);
}

TEST_F(ProcessTest, EndedChildReturnsAtOnceWithoutPumping) {
    std::string error;
    const auto child = winproc::start(child_command(0, 3), 0, error);
    ASSERT_TRUE(child) << error;
    ASSERT_EQ(m_children.size(), 1u);
    ASSERT_EQ(exitCodeAfterEnd(0), 3u);
    // Input is waiting, but the child's end comes first.
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    const double begin = now_ms();
    EXPECT_TRUE(child->wait(countingPump()));
    EXPECT_LT(now_ms() - begin, 100.0);
    EXPECT_EQ(m_pumps, 0);
    wintest::drain_messages();
}

TEST_F(ProcessTest, MissingProgramIsReportedAndTheCallReturns) {
    const std::string cmd = "C:\\nowhere\\etc\\utils\\fix_prot.exe -root -chmod 775 V:\\x";
    std::vector<std::string> messages;
    winproc::run_and_wait(cmd, 1, countingPump(),
                          [&](const std::string& m) { messages.push_back(m); });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "ERROR: File not found.\r\nCould not execute --> " + cmd);
    ASSERT_EQ(m_records.size(), 1u);
    EXPECT_FALSE(m_records[0].started);
    EXPECT_EQ(m_records[0].commandLine, cmd);
    EXPECT_EQ(m_pumps, 0);

    std::string error = "previous";
    EXPECT_EQ(winproc::start("", 0, error), nullptr);
    EXPECT_FALSE(error.empty());
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
    const auto child = winproc::start(program, arguments, 0, error, true);
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
    const auto running = winproc::start(child_exe(), {"400", "259"}, 0, error);
    ASSERT_TRUE(running) << error;
    const auto crashed = winproc::start(child_exe(), {"0", "3221225477"}, 0, error);
    ASSERT_TRUE(crashed) << error;
    EXPECT_EQ(m_records.at(0).creationFlags & CREATE_NEW_PROCESS_GROUP, 0u);
    EXPECT_FALSE(running->ended());
    EXPECT_EQ(running->exitCode(), std::nullopt);
    ASSERT_EQ(WaitForSingleObject(running->handle(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(running->ended());
    EXPECT_EQ(running->exitCode(), std::optional<std::uint32_t>(259u));
    EXPECT_FALSE(winproc::ended_by_exception(259u));
    ASSERT_EQ(WaitForSingleObject(crashed->handle(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(crashed->exitCode(), std::optional<std::uint32_t>(0xC0000005u));
    EXPECT_TRUE(winproc::ended_by_exception(0xC0000005u));

    // Letting go of a running child closes its handles and leaves it running.
    {
        const auto dropped = winproc::start(child_exe(), {"500", "6"}, 0, error);
        ASSERT_TRUE(dropped) << error;
    }
    ASSERT_EQ(m_children.size(), 3u);
    EXPECT_TRUE(stillRunning(2));
    EXPECT_EQ(exitCodeAfterEnd(2), 6u);
}

TEST_F(ProcessTest, ProgramThatCannotStartIsReportedWithTheSystemsText) {
    std::string error;
    EXPECT_EQ(winproc::start("C:\\nowhere\\fix_prot.exe", {"-root"}, 1, error), nullptr);
    EXPECT_EQ(error, "File not found.");
    ASSERT_EQ(m_records.size(), 1u);
    EXPECT_FALSE(m_records[0].started);
    // A quote cannot be part of a Windows path and would shift every word.
    error.clear();
    EXPECT_EQ(winproc::start(child_exe() + "\" x", {"0", "0"}, 0, error), nullptr);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_EQ(winproc::start(std::string(), {}, 0, error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(m_records.size(), 1u);
}

TEST_F(ProcessTest, NestedWaitsEndInnerFirst) {
    startTimer();
    std::vector<std::string> order;
    bool innerStarted = false;
    const winproc::Pump outerPump = [&] {
        wintest::drain_messages();
        if (innerStarted)
            return;
        innerStarted = true;
        winproc::run_and_wait(
            child_command(700, 0), 0, [] { wintest::drain_messages(); }, [](const std::string&) {});
        order.push_back("inner");
    };
    const double begin = now_ms();
    winproc::run_and_wait(child_command(200, 0), 0, outerPump, [](const std::string&) {});
    order.push_back("outer");
    EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
    // The outer child ended long before, but its wait had to wait for the inner one.
    EXPECT_GE(now_ms() - begin, 700.0);
    ASSERT_EQ(m_children.size(), 2u);
    EXPECT_FALSE(stillRunning(0));
    EXPECT_FALSE(stillRunning(1));
}

TEST_F(ProcessTest, AbandonFromThePumpReturnsAndLeavesTheChildRunning) {
    startTimer();
    const winproc::Pump pump = [&] {
        ++m_pumps;
        wintest::drain_messages();
        winproc::abandon_waits();
    };
    const double begin = now_ms();
    winproc::run_and_wait(child_command(1500, 7), 0, pump, [](const std::string&) {});
    EXPECT_LT(now_ms() - begin, 1000.0);
    EXPECT_EQ(m_pumps, 1);
    ASSERT_EQ(m_children.size(), 1u);
    EXPECT_TRUE(stillRunning(0));
    EXPECT_EQ(exitCodeAfterEnd(0), 7u); // ended by itself, not killed
}

DWORD WINAPI abandon_later(void*) {
    Sleep(200);
    winproc::abandon_waits();
    return 0;
}

TEST_F(ProcessTest, AbandonFromAnotherThreadWakesTheWait) {
    const HANDLE thread = CreateThread(nullptr, 0, abandon_later, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const double begin = now_ms();
    winproc::run_and_wait(child_command(2000, 5), 0, countingPump(), [](const std::string&) {});
    const double elapsed = now_ms() - begin;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_GE(elapsed, 150.0);
    EXPECT_LT(elapsed, 1500.0);
    ASSERT_EQ(m_children.size(), 1u);
    EXPECT_TRUE(stillRunning(0));
    EXPECT_EQ(exitCodeAfterEnd(0), 5u);
}

TEST_F(ProcessTest, AbandonEndsNestedWaitsButNotLaterOnes) {
    startTimer();
    int depth = 0;
    std::vector<std::string> order;
    winproc::Pump pump;
    pump = [&] {
        wintest::drain_messages();
        if (depth == 1) {
            depth = 2;
            winproc::run_and_wait(child_command(1500, 0), 0, pump, [](const std::string&) {});
            order.push_back("inner");
        } else if (depth == 2) {
            winproc::abandon_waits();
        }
    };
    depth = 1;
    const double begin = now_ms();
    winproc::run_and_wait(child_command(1500, 0), 0, pump, [](const std::string&) {});
    order.push_back("outer");
    EXPECT_LT(now_ms() - begin, 1000.0);
    EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
    ASSERT_EQ(m_children.size(), 2u);
    EXPECT_TRUE(stillRunning(0));
    EXPECT_TRUE(stillRunning(1));

    // A wait begun after the abandonment waits as usual.
    const double later = now_ms();
    winproc::run_and_wait(child_command(300, 0), 0, countingPump(), [](const std::string&) {});
    EXPECT_GE(now_ms() - later, 300.0);
    ASSERT_EQ(m_children.size(), 3u);
    EXPECT_FALSE(stillRunning(2));
}

} // namespace
