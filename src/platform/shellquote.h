// SPDX-License-Identifier: Apache-2.0
#pragma once

// One word written for a POSIX shell, the one rule for the whole program:
// the repair unit shows its command with it, and Tessaly hands remote
// shells their words and shows commands with it. Plain C++, so that the
// unit, which links no Qt, shares it; QString callers pass UTF-16.

#include <string>
#include <string_view>
#include <type_traits>

namespace plat {

namespace detail {
template <class Char> constexpr bool shell_plain(Char c) {
    constexpr std::string_view kPunct = "-_./:,+@%=";
    const auto u = static_cast<std::make_unsigned_t<Char>>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
           (u > 0 && u < 0x80 && kPunct.find(char(u)) != std::string_view::npos);
}
template <class Char> constexpr bool name_char(Char c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
} // namespace detail

// Whether word reaches the shell as it stands: letters, digits and
// -_./:,+@%= only, not empty, and not "NAME=...", which a shell takes for
// an assignment where a command starts.
template <class Char> constexpr bool shell_plain_word(std::basic_string_view<Char> word) {
    if (word.empty())
        return false;
    for (const Char c : word)
        if (!detail::shell_plain(c))
            return false;
    const std::size_t eq = word.find(Char('='));
    if (eq == std::basic_string_view<Char>::npos || eq == 0 || (word[0] >= '0' && word[0] <= '9'))
        return true;
    for (std::size_t i = 0; i < eq; ++i)
        if (!detail::name_char(word[i]))
            return true;
    return false;
}

// word as a POSIX shell reads it back: as it is when plain, else in single
// quotes, a quote inside written as '\''.
template <class Char> std::basic_string<Char> shell_quote(std::basic_string_view<Char> word) {
    if (shell_plain_word(word))
        return std::basic_string<Char>(word);
    std::basic_string<Char> q(1, Char('\''));
    q.reserve(word.size() + 2);
    for (const Char c : word) {
        if (c == Char('\'')) {
            for (const char e : std::string_view("'\\''"))
                q += Char(e);
        } else {
            q += c;
        }
    }
    q += Char('\'');
    return q;
}

inline std::string shell_quote(const std::string& word) {
    return shell_quote(std::string_view(word));
}

} // namespace plat
