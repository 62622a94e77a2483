// SPDX-License-Identifier: Apache-2.0
#pragma once

// GoogleTest's Notification is built on std::mutex and
// std::condition_variable, which mingw-w64's "win32" thread model lacks
// before GCC 13. GoogleTest lets a build bring its own
// (GTEST_HAS_NOTIFICATION_); this one is a Win32 manual-reset event.
// Force-included ahead of GoogleTest's headers.

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : m_event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    ~Notification() { CloseHandle(m_event); }
    void Notify() { SetEvent(m_event); }
    void WaitForNotification() { WaitForSingleObject(m_event, INFINITE); }

private:
    HANDLE m_event;
};

} // namespace internal
} // namespace testing
