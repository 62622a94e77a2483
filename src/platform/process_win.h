// SPDX-License-Identifier: Apache-2.0
#pragma once

// Starting programs on Windows, free of Qt. A program and its arguments
// are turned into one CreateProcessA command line here, and only here, by
// the C runtime's quoting rules, so that the program's argv holds exactly
// the words it was given. A started Child hands out its process handle, so
// that an event loop (QWinEventNotifier in launcher_win.cpp) can learn of
// its end without waiting, and its exit code once it has ended. Nothing
// here blocks.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// What CreateProcessA was given and what it answered, for tests and
// diagnostics. commandLine is never empty once CreateProcessA was called.
struct StartRecord {
    std::string commandLine;         // exactly the text handed to CreateProcessA
    std::uint32_t flags = 0;         // STARTUPINFOA::dwFlags
    std::uint16_t showWindow = 0;    // STARTUPINFOA::wShowWindow
    std::uint32_t creationFlags = 0; // CreateProcessA's dwCreationFlags
    bool started = false;
    std::uint32_t processId = 0; // when started
    std::uint32_t error = 0;     // GetLastError() when not started
};
// A started program. The handles are closed when the object goes.
class Child {
public:
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    std::uint32_t processId() const { return m_processId; }
    // The process HANDLE, to wait on; it stays owned by this object.
    void* handle() const { return m_process; }
    // Whether the program has ended (the handle is signalled).
    bool ended() const;
    // GetExitCodeProcess's answer once the program has ended; empty while
    // it runs or when the code cannot be read.
    std::optional<std::uint32_t> exitCode() const;

private:
    friend struct ChildAccess;
    Child(void* process, void* thread, std::uint32_t processId)
        : m_process(process), m_thread(thread), m_processId(processId) {}

    void* m_process;
    void* m_thread;
    std::uint32_t m_processId;
};

// The command line that gives program the argument vector {program,
// arguments...} under the C runtime's rules (main's argv,
// CommandLineToArgvW). The program is always quoted, verbatim: argv[0]
// ends at the next quote and knows no escapes, which a Windows path (that
// cannot hold a quote) never needs. An argument is quoted when it is
// empty or holds a blank, a tab or a quote; inside quotes, a quote is
// escaped with a backslash and the backslashes before it, or before the
// closing quote, are doubled. Other backslashes stay single.
std::string command_line(const std::string& program, const std::vector<std::string>& arguments);

// Starts program with arguments (quoted by command_line), with the window
// style in its STARTUPINFOA. ownProcessGroup adds CREATE_NEW_PROCESS_GROUP,
// so that a console Ctrl-C or Ctrl-Break meant for the caller does not
// reach the program. Null, with the system's description of the failure in
// error, when the program cannot be started; a program name that is empty
// or holds a quote is refused the same way (ERROR_INVALID_NAME). A record,
// when given, is filled with what CreateProcessA was handed and answered;
// it is left as it was when the program was refused before that.
std::unique_ptr<Child> start_program(const std::string& program,
                                     const std::vector<std::string>& arguments, int style,
                                     std::string& error, bool ownProcessGroup = false,
                                     StartRecord* record = nullptr);

// Whether an exit code is the status of an unhandled exception (an
// NTSTATUS warning or error such as 0xC0000005) rather than one the
// program chose, as QProcess counts a crash on Windows.
bool ended_by_exception(std::uint32_t exitCode);

} // namespace plat
