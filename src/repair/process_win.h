#pragma once

// Starting a program and waiting for its end on Windows, free of Qt: the
// user interface is kept alive through a pump callback that the waiting
// loop calls whenever window messages arrive, and errors are reported
// through a message callback. The Qt side (launcher_win.cpp) plugs in
// tsy::do_events and tsy::msg_box.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace winproc {

// Processes the window messages that are pending.
using Pump = std::function<void()>;
// Shows a message to the user.
using Message = std::function<void(const std::string& text)>;

// What CreateProcessA was given and what it answered, for tests and
// diagnostics.
struct StartRecord {
    std::string commandLine;      // exactly the text handed to CreateProcessA
    std::uint32_t flags = 0;      // STARTUPINFOA::dwFlags
    std::uint16_t showWindow = 0; // STARTUPINFOA::wShowWindow
    bool started = false;
    std::uint32_t processId = 0; // when started
    std::uint32_t error = 0;     // GetLastError() when not started
};
using StartHook = std::function<void(const StartRecord&)>;

// Installs a hook that sees every start attempt; returns the previous one.
StartHook set_start_hook(StartHook hook);

// A started program. The handles are closed when the object goes.
class Child {
public:
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    std::uint32_t processId() const { return m_processId; }

    // Waits for the program's end, calling pump whenever window messages
    // arrive (and not otherwise: the wait takes no processor time). Returns
    // true when the program ended, false when abandon_waits() ended the
    // wait first. A program that has already ended returns at once without
    // pumping. A pump that starts a wait of its own gets back only after
    // that inner wait is over.
    bool wait(const Pump& pump);

private:
    friend std::unique_ptr<Child> start(const std::string&, int, std::string&);
    Child(void* process, void* thread, std::uint32_t processId)
        : m_process(process), m_thread(thread), m_processId(processId) {}

    void* m_process;
    void* m_thread;
    std::uint32_t m_processId;
};

// Starts commandLine, passed to CreateProcessA unchanged, with the window
// style (a show-window code) in its STARTUPINFOA. Null, with the system's
// description of the failure in error, when the program cannot be started.
std::unique_ptr<Child> start(const std::string& commandLine, int style, std::string& error);

// Starts commandLine and waits for its end. A program that cannot be
// started is reported through message as
//   "ERROR: <description>\r\nCould not execute --> <command line>"
// after which the call returns normally.
void run_and_wait(const std::string& commandLine, int style, const Pump& pump,
                  const Message& message);

// Makes every wait under way return promptly, from any thread. The
// programs keep running; their handles are closed as the waits return.
// Waits begun afterwards are not affected.
void abandon_waits();

} // namespace winproc
