// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

namespace tsy {

// Marks a point where a long operation hands control back to the event
// loop: before a load enumerates, once per view loaded, at the top of
// every row of a run. The operations are driven by signals, so the loop
// turns on its own; tests watch these points or act at them.
void do_events();

// Tests watch or act inside every yield. Returns the previous hook.
using YieldHook = std::function<void()>;
YieldHook set_yield_hook(YieldHook hook);

} // namespace tsy
