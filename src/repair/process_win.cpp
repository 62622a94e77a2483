#include "process_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <map>
#include <utility>
#include <vector>

namespace winproc {

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

std::string system_message(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (n != 0 && text)
        message.assign(text, n);
    if (text)
        LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        message = "System error " + std::to_string(code);
    return message;
}

} // namespace

StartHook set_start_hook(StartHook hook) {
    return std::exchange(g_startHook, std::move(hook));
}

Child::~Child() {
    CloseHandle(m_thread);
    CloseHandle(m_process);
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

std::unique_ptr<Child> start(const std::string& commandLine, int style, std::string& error) {
    // CreateProcessA may write into the command line, so it gets a copy.
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(style);
    PROCESS_INFORMATION info{};
    const BOOL ok = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE,
                                   NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info);
    const DWORD lastError = ok ? 0 : GetLastError();

    if (g_startHook) {
        StartRecord record;
        record.commandLine = commandLine;
        record.flags = startup.dwFlags;
        record.showWindow = startup.wShowWindow;
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
