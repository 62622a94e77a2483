#pragma once

#include <functional>

namespace tsy {

// Lets the user interface process the window events that are pending
// (paints, timer ticks, clicks). Long operations call it between steps.
void do_events();

// Tests watch or act inside every yield. Returns the previous hook.
using YieldHook = std::function<void()>;
YieldHook set_yield_hook(YieldHook hook);

} // namespace tsy
