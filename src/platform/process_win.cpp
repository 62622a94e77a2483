// SPDX-License-Identifier: Apache-2.0
#include "platform/process_win.h"
#include "platform/syserror_win.h"

#include <windows.h>

#include <vector>

namespace plat {

Child::~Child() {
    CloseHandle(m_thread);
    CloseHandle(m_process);
}

bool Child::ended() const {
    return WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0;
}

std::optional<std::uint32_t> Child::exitCode() const {
    // STILL_ACTIVE (259) is also a code a program may choose, so the
    // handle, not the code, says whether the program has ended.
    DWORD code = 0;
    if (!ended() || !GetExitCodeProcess(m_process, &code))
        return std::nullopt;
    return static_cast<std::uint32_t>(code);
}

struct ChildAccess {
    static std::unique_ptr<Child> create(const std::string& commandLine, int style,
                                         DWORD creationFlags, std::string& error,
                                         StartRecord* record) {
        // CreateProcessA may write into the command line, so it gets a copy.
        std::vector<char> writable(commandLine.begin(), commandLine.end());
        writable.push_back('\0');

        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(style);
        PROCESS_INFORMATION info{};
        const DWORD flags = NORMAL_PRIORITY_CLASS | creationFlags;
        const BOOL ok = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, flags,
                                       nullptr, nullptr, &startup, &info);
        const DWORD lastError = ok ? 0 : GetLastError();

        if (record) {
            record->commandLine = commandLine;
            record->flags = startup.dwFlags;
            record->showWindow = startup.wShowWindow;
            record->creationFlags = flags;
            record->started = ok != FALSE;
            record->processId = ok ? info.dwProcessId : 0;
            record->error = lastError;
        }

        if (!ok) {
            error = system_message(lastError);
            return nullptr;
        }
        error.clear();
        return std::unique_ptr<Child>(new Child(info.hProcess, info.hThread, info.dwProcessId));
    }
};

std::string command_line(const std::string& program, const std::vector<std::string>& arguments) {
    std::string line;
    line += '"';
    line += program;
    line += '"';
    for (const std::string& arg : arguments) {
        line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        std::size_t backslashes = 0;
        for (const char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes count double only before a quote.
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        // ... and before the closing one.
        line.append(2 * backslashes, '\\');
        line += '"';
    }
    return line;
}

std::unique_ptr<Child> start_program(const std::string& program,
                                     const std::vector<std::string>& arguments, int style,
                                     std::string& error, bool ownProcessGroup,
                                     StartRecord* record) {
    if (program.empty() || program.find('"') != std::string::npos) {
        error = system_message(ERROR_INVALID_NAME);
        return nullptr;
    }
    return ChildAccess::create(command_line(program, arguments), style,
                               ownProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0, error, record);
}

bool ended_by_exception(std::uint32_t exitCode) {
    return exitCode >= 0x80000000u && exitCode < 0xD0000000u;
}

} // namespace plat
