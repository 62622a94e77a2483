// SPDX-License-Identifier: Apache-2.0
// Injected faults: <home>/var/ccsim/faults.
//
// One fault per line, tab-separated escaped fields:
//   global  NAME  VALUE
//   view    TAG   NAME  VALUE
// Lines starting with '#' are comments.
#include "internal.h"

#include <cstring>

namespace ccsim::detail {

const char* const kViewFaultNames[] = {"lsview_fail",
                                       "endview_fail",
                                       "catcs_fail",
                                       "garble",
                                       "no_host",
                                       "fixprot_exit",
                                       "fixprot_sleep_ms",
                                       "fixprot_crash",
                                       "hang",
                                       "lookup_other_tag",
                                       "lookup_two_lines",
                                       "lookup_root",
                                       "lookup_trailing_blanks",
                                       "owner_domain",
                                       "no_owner",
                                       "no_group",
                                       "find_sleep_ms",
                                       "storage_unreadable",
                                       "endless",
                                       nullptr};
const char* const kGlobalFaultNames[] = {"listing_fail",
                                         "truncate",
                                         "garbage",
                                         "crlf",
                                         "slow_ms",
                                         "hang",
                                         "fixprot_exit",
                                         "fixprot_sleep_ms",
                                         "fixprot_noexec",
                                         "fixprot_dir",
                                         "slow_listing_ms",
                                         "stall_ms",
                                         "listing_stderr_only",
                                         "listing_warning",
                                         "short_fail",
                                         "owner_domain",
                                         "no_owner",
                                         "no_group",
                                         "ssh_unreachable",
                                         "ssh_delay_ms",
                                         "ssh_timeout_ms",
                                         "ssh_hang",
                                         "ssh_keep_fds",
                                         "no_flock",
                                         "sudo_password",
                                         "find_sleep_ms",
                                         "unknown_account",
                                         "sudo_allow",
                                         "endless",
                                         nullptr};

namespace {
bool listed(const char* const* names, const std::string& name) {
    for (; *names; ++names)
        if (name == *names)
            return true;
    return false;
}

std::string nameList(const char* const* names) {
    std::string out;
    for (; *names; ++names) {
        if (!out.empty())
            out += ", ";
        out += *names;
    }
    return out;
}
} // namespace

const std::string* Faults::get(std::string_view name) const {
    const auto it = global.find(name);
    return it == global.end() ? nullptr : &it->second;
}

const std::string* Faults::get(std::string_view tag, std::string_view name) const {
    const auto v = perView.find(tag);
    if (v == perView.end())
        return nullptr;
    const auto it = v->second.find(name);
    return it == v->second.end() ? nullptr : &it->second;
}

void validateFault(bool perView, const std::string& name, const std::string& value) {
    const char* const* names = perView ? kViewFaultNames : kGlobalFaultNames;
    if (!listed(names, name))
        throw Error("unknown " + std::string(perView ? "per-view" : "command-wide") + " fault " +
                    printable(name) + "; known: " + nameList(names));
    if (value.find_first_of(std::string_view("\0\n\r", 3)) != std::string::npos)
        throw Error("fault " + name + ": the value cannot contain NUL or a line break");
    std::uint64_t n = 0;
    if (name == "truncate" || name == "slow_ms" || name == "fixprot_sleep_ms" || name == "hang" ||
        name == "slow_listing_ms" || name == "stall_ms" || name == "ssh_delay_ms" ||
        name == "ssh_timeout_ms" || name == "find_sleep_ms") {
        if (!parseUint(value, n))
            throw Error("fault " + name + " needs a non-negative number, not " + printable(value));
    } else if (name == "fixprot_exit") {
        if (!parseUint(value, n) || n > 255)
            throw Error("fault fixprot_exit needs an exit status 0..255, not " + printable(value));
    } else if (name == "fixprot_crash") {
        if (value != "1" && value != "SEGV" && value != "KILL")
            throw Error("fault fixprot_crash takes SEGV or KILL (1 = SEGV), not " +
                        printable(value));
    } else if (name == "endless") {
        if (value != "1" && value != "line" && value != "lines")
            throw Error("fault endless takes line or lines (1 = line), not " + printable(value));
    } else if (name == "garble") {
        if (value != "1" && value != "notag" && value != "junk")
            throw Error("fault garble takes notag or junk (1 = notag), not " + printable(value));
    } else if (name == "crlf" || name == "garbage" || name == "no_host" ||
               name == "lookup_two_lines" || name == "lookup_trailing_blanks" ||
               name == "no_owner" || name == "no_group" || name == "sudo_password" ||
               name == "fixprot_noexec" || name == "fixprot_dir" || name == "ssh_keep_fds" ||
               name == "storage_unreadable") {
        if (value != "1")
            throw Error("fault " + name + " takes no value");
    } else if (name == "owner_domain" || name == "ssh_unreachable" || name == "ssh_hang" ||
               name == "unknown_account" || name == "sudo_allow" || name == "no_flock") {
        if (value == "1" || value.empty())
            throw Error("fault " + name + " needs a value: " +
                        (name == "owner_domain"      ? std::string("owner_domain=DOMAIN")
                         : name == "unknown_account" ? std::string("unknown_account=NAME[,NAME...]")
                         : name == "sudo_allow" ? std::string("sudo_allow=PROGRAM[,PROGRAM...]")
                                                : name + "=HOST[,HOST...]"));
    } else if (name == "lookup_root" || name == "lookup_other_tag") {
        if (value.empty())
            throw Error("fault " + name + " needs a non-empty value");
    }
}

Faults loadFaults(const std::string& path) {
    Faults f;
    std::string data;
    if (!readFileIfExists(path, data))
        return f;
    std::size_t pos = 0, lineNo = 0;
    std::string a, b, c;
    while (pos < data.size()) {
        ++lineNo;
        std::size_t end = data.find('\n', pos);
        if (end == std::string::npos)
            end = data.size();
        const std::string_view line = std::string_view(data).substr(pos, end - pos);
        pos = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        const auto damaged = [&](const std::string& why) {
            return Error("fault file " + printable(path) + " is damaged at line " +
                         std::to_string(lineNo) + ": " + why);
        };
        const auto parts = splitTabs(line);
        if (parts[0] == "global" && parts.size() == 3) {
            if (!unescapeField(parts[1], a) || !unescapeField(parts[2], b))
                throw damaged("bad escape");
            f.global[a] = b;
        } else if (parts[0] == "view" && parts.size() == 4) {
            if (!unescapeField(parts[1], a) || !unescapeField(parts[2], b) ||
                !unescapeField(parts[3], c))
                throw damaged("bad escape");
            f.perView[a][b] = c;
        } else {
            throw damaged("expected \"global NAME VALUE\" or \"view TAG NAME VALUE\"");
        }
    }
    return f;
}

void saveFaults(const std::string& path, const Faults& f) {
    std::string out = "# ccsim faults 1\n";
    for (const auto& [name, value] : f.global)
        out += "global\t" + escapeField(name) + '\t' + escapeField(value) + '\n';
    for (const auto& [tag, faults] : f.perView)
        for (const auto& [name, value] : faults)
            out += "view\t" + escapeField(tag) + '\t' + escapeField(name) + '\t' +
                   escapeField(value) + '\n';
    writeFileAtomic(path, out);
}

} // namespace ccsim::detail
