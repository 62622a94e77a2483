// SPDX-License-Identifier: Apache-2.0
#pragma once

// The fuzz targets' invariant check: a violated invariant is a finding, so
// it names itself on stderr and traps, which libFuzzer reports as a crash
// and saves the input for.

#include <QString>

#include <cstdio>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "invariant violated at %s:%d: %s\n", __FILE__, __LINE__, #cond);  \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)

namespace fuzz {

// A QString shown with its code points, for the reports of violations.
inline void dump(const char* what, const QString& s) {
    std::fprintf(stderr, "%s (%lld chars):", what, static_cast<long long>(s.size()));
    for (const QChar c : s)
        std::fprintf(stderr, " %04x", unsigned(c.unicode()));
    std::fprintf(stderr, "\n");
}

} // namespace fuzz
