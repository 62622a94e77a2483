// cleartool lsview output forms (UNIX layout).
#include "internal.h"

namespace ccsim::detail {

namespace {
// Tag column width of the default lsview line.
constexpr std::size_t kTagColumn = 24;

// A string literal with embedded NULs kept.
template <std::size_t N> std::string bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}
} // namespace

void lsviewDefaultLine(std::string& line, const Record& r) {
    // "* tag                      /storage/path": '*' marks an active dynamic
    // view; active snapshot views are listed without it, as cleartool does.
    line += (r.active && !r.snapshot) ? '*' : ' ';
    line += ' ';
    line += r.tag;
    const std::size_t width = displayWidth(r.tag);
    line.append(width < kTagColumn ? kTagColumn - width + 1 : 1, ' ');
    line += r.storage;
    line += '\n';
}

void lsviewLongRecord(std::string& out, const Record& r, bool noHost, const std::string* garble) {
    const auto line = [&out](std::string_view key, std::string_view value) {
        out.append(key);
        out.append(value);
        out += '\n';
    };
    const bool junk = garble && *garble == "junk";
    const bool noTag = garble && !junk;
    if (!noTag)
        line("Tag: ", r.tag);
    if (junk) {
        out += bytes("\x7f\x00\xff\xfe\x01\x1b[0m#@!\n");
        line(bytes("  Gl\xff\xfe"
                   "bal pa\x00th: "),
             r.storage.substr(0, r.storage.size() / 2));
    } else {
        line("  Global path: ", r.storage);
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
    line("View owner: ", r.owner);
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
