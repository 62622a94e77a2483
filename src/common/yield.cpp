// SPDX-License-Identifier: Apache-2.0
#include "yield.h"

namespace tsy {

namespace {
YieldHook& hook() {
    static YieldHook h;
    return h;
}
} // namespace

void do_events() {
    if (hook()) {
        // Copy first: the hook may replace itself.
        YieldHook h = hook();
        h();
    }
}

YieldHook set_yield_hook(YieldHook h) {
    YieldHook previous = std::move(hook());
    hook() = std::move(h);
    return previous;
}

} // namespace tsy
