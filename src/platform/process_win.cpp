#include "platform/process_win.h"
#include "platform/syserror_win.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <utility>
#include <vector>

namespace winproc {

using plat::system_message;

namespace {

StartHook g_startHook;

// Abandonment: every call of abandon_waits() starts a new generation, and a
// wait ends as soon as the generation it began in is over. The threads
// that are waiting get a message so that their waits wake up.
std::atomic<unsigned long> g_generation{0};
SRWLOCK g_waitersLock = SRWLOCK_INIT;
std::map<DWORD, int> g_waiters; // thread id -> waits under way on it

class WaiterRegistration {
public:
    WaiterRegistration() : m_thread(GetCurrentThreadId()) {
        AcquireSRWLockExclusive(&g_waitersLock);
        ++g_waiters[m_thread];
        ReleaseSRWLockExclusive(&g_waitersLock);
    }
    WaiterRegistration(const WaiterRegistration&) = delete;
    WaiterRegistration& operator=(const WaiterRegistration&) = delete;
    ~WaiterRegistration() {
        AcquireSRWLockExclusive(&g_waitersLock);
        if (--g_waiters[m_thread] == 0)
            g_waiters.erase(m_thread);
        ReleaseSRWLockExclusive(&g_waitersLock);
    }

private:
    DWORD m_thread;
};

} // namespace

StartHook set_start_hook(StartHook hook) {
    return std::exchange(g_startHook, std::move(hook));
}

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

bool Child::wait(const Pump& pump) {
    HANDLE process = m_process;
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
        return true;
    // The generation is taken before the thread is registered, so that an
    // abandonment in between is seen by the first check of the loop.
    const unsigned long generation = g_generation.load();
    const WaiterRegistration registration;
    for (;;) {
        if (g_generation.load() != generation)
            return false;
        const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0)
            return true;
        if (woken != WAIT_OBJECT_0 + 1)
            return false; // the wait itself failed; nothing sensible to wait on
        if (g_generation.load() != generation)
            return false;
        if (pump)
            pump();
    }
}

struct ChildAccess {
    static std::unique_ptr<Child> create(const std::string& commandLine, int style,
                                         DWORD creationFlags, std::string& error) {
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

        if (g_startHook) {
            StartRecord record;
            record.commandLine = commandLine;
            record.flags = startup.dwFlags;
            record.showWindow = startup.wShowWindow;
            record.creationFlags = flags;
            record.started = ok != FALSE;
            record.processId = ok ? info.dwProcessId : 0;
            record.error = lastError;
            g_startHook(record);
        }

        if (!ok) {
            error = system_message(lastError);
            return nullptr;
        }
        error.clear();
        return std::unique_ptr<Child>(new Child(info.hProcess, info.hThread, info.dwProcessId));
    }
};

std::unique_ptr<Child> start(const std::string& commandLine, int style, std::string& error) {
    return ChildAccess::create(commandLine, style, 0, error);
}

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

std::unique_ptr<Child> start(const std::string& program, const std::vector<std::string>& arguments,
                             int style, std::string& error, bool ownProcessGroup) {
    if (program.empty() || program.find('"') != std::string::npos) {
        error = system_message(ERROR_INVALID_NAME);
        return nullptr;
    }
    return ChildAccess::create(command_line(program, arguments), style,
                               ownProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0, error);
}

bool ended_by_exception(std::uint32_t exitCode) {
    return exitCode >= 0x80000000u && exitCode < 0xD0000000u;
}

void run_and_wait(const std::string& commandLine, int style, const Pump& pump,
                  const Message& message) {
    std::string error;
    const std::unique_ptr<Child> child = start(commandLine, style, error);
    if (!child) {
        if (message)
            message("ERROR: " + error + "\r\n" + "Could not execute --> " + commandLine);
        return;
    }
    child->wait(pump);
}

void abandon_waits() {
    ++g_generation;
    AcquireSRWLockShared(&g_waitersLock);
    for (const auto& waiter : g_waiters)
        PostThreadMessageA(waiter.first, WM_NULL, 0, 0);
    ReleaseSRWLockShared(&g_waitersLock);
}

} // namespace winproc
