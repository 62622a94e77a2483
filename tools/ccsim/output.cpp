// SPDX-License-Identifier: Apache-2.0
// cleartool lsview output forms (UNIX layout).
#include "internal.h"

#include <cstdio>

namespace ccsim::detail {

namespace {
// Tag column width of the default lsview line.
constexpr std::size_t kTagColumn = 24;

// A string literal with embedded NULs kept.
template <std::size_t N> std::string bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}
} // namespace

void lsviewDefaultLine(std::string& line, bool star, std::string_view tag, std::string_view path,
                       std::string_view trailing) {
    // "* tag                      /storage/path": '*' marks an active dynamic
    // view; active snapshot views are listed without it, as cleartool does.
    line += star ? '*' : ' ';
    line += ' ';
    line += tag;
    const std::size_t width = displayWidth(tag);
    line.append(width < kTagColumn ? kTagColumn - width + 1 : 1, ' ');
    line += path;
    line += trailing;
    line += '\n';
}

void lsviewLongRecord(std::string& out, const Record& r, const LongOptions& o) {
    const auto line = [&out](std::string_view key, std::string_view value) {
        out.append(key);
        out.append(value);
        out += '\n';
    };
    const std::string* garble = o.garble;
    const bool noHost = o.noHost;
    const bool junk = garble && *garble == "junk";
    const bool noTag = garble && !junk;
    if (!noTag)
        line("Tag: ", r.tag);
    if (junk) {
        out += bytes("\x7f\x00\xff\xfe\x01\x1b[0m#@!\n");
        line(bytes("  Gl\xff\xfe"
                   "bal pa\x00th: "),
             o.globalPath.substr(0, o.globalPath.size() / 2));
    } else {
        line("  Global path: ", o.globalPath);
    }
    if (!noHost)
        line("  Server host: ", r.host);
    line("  Region: ", r.region);
    line("  Active: ", r.active ? "YES" : "NO");
    line("  View tag uuid:", r.uuid);
    line("View on host: ", r.host);
    line("View server access path: ", r.storage);
    line("View uuid: ", r.uuid);
    if (r.snapshot || r.ucm)
        line("View attributes: ", r.snapshot && r.ucm ? "snapshot,ucmview"
                                  : r.snapshot        ? "snapshot"
                                                      : "ucmview");
    line("View owner: ", std::string(o.domain) + std::string(r.owner));
}

void lsviewProperties(std::string& out, const Record& r, const PropertyOptions& o) {
    // Times are made up but stable: a day in early 2024 picked by the uuid.
    const std::uint64_t h = fnv1a(r.uuid);
    const auto stamp = [&](int dayOffset) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "2024-%02d-%02dT%02d:%02d:00Z",
                      static_cast<int>(1 + (h % 5)), static_cast<int>(1 + (h / 5) % 20 + dayOffset),
                      static_cast<int>(8 + (h / 100) % 10), static_cast<int>((h / 1000) % 60));
        return std::string(buf);
    };
    const std::string owner = std::string(o.domain) + std::string(r.owner);
    const std::string group = std::string(o.domain) + std::string(r.group);
    const std::string by = " by " + std::string(r.owner) + "." + std::string(r.group) + "@" +
                           std::string(r.host) + "\n";
    out += "Created " + stamp(0) + by;
    out += "Last modified " + stamp(5) + by;
    out += "Last accessed " + stamp(6) + by;
    if (o.full) {
        out += "Last read of private data " + stamp(6) + by;
        out += "Last config spec update " + stamp(2) + by;
        out += "Last view private object update " + stamp(5) + by;
        out += "Text mode: unix\n";
        out += std::string("Properties: ") + (r.snapshot ? "snapshot" : "dynamic") +
               (r.snapshot ? " readwrite nshareable_dos\n" : " readwrite shareable_dos\n");
    }
    // "Owner: NAME            : rwx (all)", names padded to one column.
    const auto perms = [&out](std::string_view key, std::string_view name, std::string_view mode) {
        constexpr std::size_t kNameColumn = 16;
        out.append(key);
        out.append(name);
        const std::size_t width = displayWidth(name);
        out.append(width < kNameColumn ? kNameColumn - width + 1 : 1, ' ');
        out.append(": ");
        out.append(mode);
        out += '\n';
    };
    if (!o.noOwner)
        perms("Owner: ", owner, "rwx (all)");
    if (!o.noGroup)
        perms("Group: ", group, "rwx (all)");
    perms("Other: ", "", "r-x (read)");
}

std::string addGarbage(std::string_view listing) {
    static const std::string junk[] = {
        bytes("\x00\xff\xfe\x01\x02 ###\n"),
        bytes("\r"), // a lone CR glued to the next line
        bytes("\xff\xff garbage \x00 tail\n"),
    };
    std::string out = junk[0];
    std::size_t line = 0;
    std::size_t pos = 0;
    while (pos < listing.size()) {
        std::size_t end = listing.find('\n', pos);
        end = end == std::string_view::npos ? listing.size() : end + 1;
        out.append(listing.substr(pos, end - pos));
        pos = end;
        if (++line % 3 == 0)
            out += junk[(line / 3) % 3];
    }
    return out;
}

} // namespace ccsim::detail
