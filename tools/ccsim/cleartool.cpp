// SPDX-License-Identifier: Apache-2.0
// Stand-in for cleartool: lsview, catcs, endview over the simulated registry.
// Lives in <home>/bin/cleartool and finds its home from its own path.
#include "internal.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

using namespace ccsim;
using namespace ccsim::detail;

namespace {

constexpr std::uint64_t kHangMs = 3600ULL * 1000;

struct Ctx {
    Paths paths;
    Faults faults;
    bool crlf = false;
    bool strict = false;
    std::string err;
    int status = 0;

    void error(const std::string& text) {
        err += text;
        if (text.empty() || text.back() != '\n')
            err += '\n';
        status = 1;
    }
    void emit(int fd, std::string text) const {
        if (crlf)
            text = toCrlf(text);
        try {
            writeAll(fd, text);
        } catch (const Error&) {
            // The reader went away; nothing sensible is left to do.
        }
    }
    // A per-view fault's message, or its default with HOST filled in.
    std::string faultText(const std::string& value, const Record& r) const {
        if (value != "1")
            return expandText(value);
        return "cleartool: Error: Unable to contact albd_server on host '" + std::string(r.host) +
               "'";
    }
};

std::uint64_t hangDuration(const std::string& value) {
    std::uint64_t n = 0;
    parseUint(value, n);
    return n == 1 ? kHangMs : n * 1000;
}

// True if `arg` is "-" followed by at least `minLen` leading characters of
// `name` (cleartool accepts abbreviated options: -s, -sh, ... -short).
bool optionIs(std::string_view arg, std::string_view name, std::size_t minLen) {
    if (arg.size() < 2 || arg[0] != '-')
        return false;
    const std::string_view given = arg.substr(1);
    return given.size() >= minLen && given.size() <= name.size() &&
           name.substr(0, given.size()) == given;
}

int usage(Ctx& c, const std::string& problem, const char* usageText) {
    if (!problem.empty())
        c.error("cleartool: Error: " + problem);
    c.err += usageText;
    c.status = 1;
    return 1;
}

void hangFor(const Ctx& c, const std::vector<std::string>& tags) {
    std::uint64_t ms = 0;
    for (const auto& t : tags)
        if (const std::string* v = c.faults.get(t, "hang"))
            ms = std::max(ms, hangDuration(*v));
    if (ms)
        sleepMs(ms);
}

// The endless fault: the listing (command-wide) or an lsview naming the
// view (per view) goes on writing until its reader goes away, one line that
// never ends (line) or short lines without end (lines).
void writeEndlessly(const Ctx& c, const std::vector<std::string>& tags) {
    const std::string* mode = nullptr;
    if (tags.empty())
        mode = c.faults.get("endless");
    for (const auto& t : tags)
        if (!mode)
            mode = c.faults.get(t, "endless");
    if (!mode)
        return;
    const std::string piece =
        *mode == "lines" ? std::string(" View on host: h\n") : std::string(64 * 1024, 'x');
    std::string chunk;
    while (chunk.size() < 64 * 1024)
        chunk += piece;
    for (;;)
        writeAll(1, chunk); // throws once the reader has gone
}

std::string notFound(const std::string& tag) {
    return "cleartool: Error: No matching entries found for view tag \"" + tag + "\".";
}

const char kLsviewUsage[] = "Usage: lsview [-short | -long] [-properties [-full]] [-host hostname] "
                            "[-region network-region] [view-tag ...]\n";

// A command-wide fault's text, or its default.
std::string textOr(const std::string& value, const char* fallback) {
    return value != "1" ? expandText(value) : std::string(fallback);
}

// "DOM" -> "DOM/"; a value already ending in '/' or '\' is kept.
std::string domainPrefix(const std::string* value) {
    if (!value)
        return {};
    if (!value->empty() && (value->back() == '/' || value->back() == '\\'))
        return *value;
    return *value + '/';
}

// Writes a long listing record by record: slow_listing_ms spreads the records
// over that many milliseconds, stall_ms goes silent half-way. Each piece gets
// the output faults (garbage, crlf, truncate) on its own.
void writeSlowly(const Ctx& c, const std::string& out, const std::vector<std::size_t>& ends,
                 std::uint64_t slowMs, std::uint64_t stallMs) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (const std::size_t e : ends) {
        pieces.push_back(out.substr(start, e - start));
        start = e;
    }
    if (start < out.size())
        pieces.back() += out.substr(start);
    if (stallMs && pieces.size() == 1) {
        // One record: stall after its first line.
        const std::size_t nl = pieces[0].find('\n');
        if (nl != std::string::npos && nl + 1 < pieces[0].size()) {
            pieces.push_back(pieces[0].substr(nl + 1));
            pieces[0].resize(nl + 1);
        }
    }
    const std::size_t stallAfter = pieces.size() > 1 ? pieces.size() / 2 : 0;
    std::uint64_t budget = UINT64_MAX;
    if (const std::string* v = c.faults.get("truncate"))
        parseUint(*v, budget);
    for (std::size_t i = 0; i < pieces.size() && budget > 0; ++i) {
        std::string piece = c.faults.get("garbage") ? addGarbage(pieces[i]) : pieces[i];
        if (c.crlf)
            piece = toCrlf(piece);
        if (piece.size() > budget)
            piece.resize(static_cast<std::size_t>(budget));
        budget -= piece.size();
        try {
            writeAll(1, piece);
        } catch (const Error&) {
            return; // the reader went away
        }
        if (slowMs)
            sleepMs(slowMs / pieces.size());
        if (stallMs && i + 1 == stallAfter)
            sleepMs(stallMs);
    }
}

int lsview(Ctx& c, int argc, char** argv) {
    bool shortForm = false, longForm = false, optionsDone = false;
    bool properties = false, full = false;
    std::string host, region;
    bool haveHost = false, haveRegion = false;
    std::vector<std::string> tags;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            optionsDone = true;
            tags.emplace_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (optionIs(a, "short", 1)) {
            shortForm = true;
        } else if (optionIs(a, "long", 1)) {
            longForm = true;
        } else if (optionIs(a, "properties", 3)) {
            properties = true;
        } else if (optionIs(a, "full", 3)) {
            full = true;
        } else if (optionIs(a, "host", 3) || optionIs(a, "region", 3)) {
            if (i + 1 >= argc)
                return usage(c, "Option \"" + std::string(a) + "\" requires an argument.",
                             kLsviewUsage);
            (a[1] == 'h' ? host : region) = argv[++i];
            (a[1] == 'h' ? haveHost : haveRegion) = true;
        } else if (optionIs(a, "quick", 1)) {
            // accepted, no effect here
        } else {
            return usage(c, "Unrecognized option \"" + std::string(a) + "\"", kLsviewUsage);
        }
    }
    if (shortForm && longForm)
        return usage(c, "Options \"-short\" and \"-long\" are mutually exclusive.", kLsviewUsage);
    if (full && !properties)
        return usage(c, "Option \"-full\" requires \"-properties\".", kLsviewUsage);
    hangFor(c, tags);
    if (shortForm)
        if (const std::string* v = c.faults.get("short_fail")) {
            c.error(textOr(*v, "cleartool: Error: Unable to get the list of view tags: Trouble "
                               "contacting registry on host \"ccrgy01\"."));
            return 1;
        }

    const Registry reg = loadRegistry(c.paths.registry());
    std::string out;
    std::vector<std::size_t> ends; // where each long record ends, for slow output
    // A per-view fault, or the command-wide one of the same name.
    const auto viewFault = [&](std::string_view tag, std::string_view name) -> const std::string* {
        if (!c.faults.perView.empty())
            if (const std::string* v = c.faults.get(tag, name))
                return v;
        return c.faults.get(name);
    };
    const auto defaultLine = [&](const Record& r, const std::string& path) {
        std::string_view tag = r.tag;
        std::string shown = path, trailing;
        int times = 1;
        if (!c.faults.perView.empty()) {
            // Lookup faults: the line Tessaly reads to find a view's storage.
            if (const std::string* v = c.faults.get(r.tag, "lookup_other_tag")) {
                const Record* other = nullptr;
                if (*v == "1") {
                    for (const Record& x : reg.records)
                        if (x.tag != r.tag && !other)
                            other = &x;
                } else {
                    other = reg.find(*v);
                }
                tag = *v != "1" ? std::string_view(*v) : other ? other->tag : std::string_view();
                if (other)
                    shown = globalPath(c.paths, other->storage, c.strict);
            }
            if (tag.empty())
                tag = "other_view";
            if (const std::string* v = c.faults.get(r.tag, "lookup_root"))
                shown = *v == "1" ? "/" : *v;
            if (c.faults.get(r.tag, "lookup_trailing_blanks"))
                trailing = " \t  ";
            if (c.faults.get(r.tag, "lookup_two_lines"))
                times = 2;
        }
        for (int i = 0; i < times; ++i)
            lsviewDefaultLine(out, r.active && !r.snapshot, tag, shown, trailing);
    };
    const auto render = [&](const Record& r) {
        const std::string path = globalPath(c.paths, r.storage, c.strict);
        if (shortForm) {
            out += r.tag;
            out += '\n';
        } else if (longForm) {
            LongOptions o;
            o.globalPath = path;
            const std::string domain = domainPrefix(viewFault(r.tag, "owner_domain"));
            o.domain = domain;
            if (!c.faults.perView.empty()) {
                o.garble = c.faults.get(r.tag, "garble");
                o.noHost = c.faults.get(r.tag, "no_host") != nullptr;
            }
            lsviewLongRecord(out, r, o);
        } else {
            defaultLine(r, path);
        }
        if (properties) {
            PropertyOptions o;
            o.full = full;
            const std::string domain = domainPrefix(viewFault(r.tag, "owner_domain"));
            o.domain = domain;
            o.noOwner = viewFault(r.tag, "no_owner") != nullptr;
            o.noGroup = viewFault(r.tag, "no_group") != nullptr;
            lsviewProperties(out, r, o);
        }
        if (longForm)
            ends.push_back(out.size());
    };
    std::uint64_t slowMs = 0, stallMs = 0;
    if (longForm) {
        if (const std::string* v = c.faults.get("slow_listing_ms"))
            parseUint(*v, slowMs);
        if (const std::string* v = c.faults.get("stall_ms"))
            parseUint(*v, stallMs);
    }
    if (tags.empty()) {
        if (const std::string* v = c.faults.get("listing_fail")) {
            c.error(textOr(*v, "cleartool: Error: Trouble contacting registry on host "
                               "\"ccrgy01\": timed out trying to communicate with ClearCase "
                               "remote server."));
            return 1;
        }
        if (longForm) {
            if (const std::string* v = c.faults.get("listing_stderr_only")) {
                // Words on stderr, nothing listed, yet a zero exit status.
                c.err += textOr(*v, "cleartool: Error: Unable to get view information from the "
                                    "registry.");
                if (c.err.back() != '\n')
                    c.err += '\n';
                return 0;
            }
            if (const std::string* v = c.faults.get("listing_warning"))
                c.err += "cleartool: Warning: " +
                         textOr(*v, "Unable to get cached view information; using the "
                                    "registry server.") +
                         '\n';
        }
        // Without output faults the listing is written in chunks, so even
        // 100,000 views need little memory.
        const bool stream =
            !c.crlf && !c.faults.get("garbage") && !c.faults.get("truncate") && !slowMs && !stallMs;
        constexpr std::size_t kChunk = 1 << 20;
        out.reserve(stream ? kChunk + 4096 : reg.records.size() * (longForm ? 400 : 100));
        for (const Record* r : reg.sortedByTag()) {
            if ((!haveHost || r->host == host) && (!haveRegion || r->region == region)) {
                // The long listing asks each view's server; as cleartool does
                // for one it cannot reach, the record is left out, the error
                // goes to stderr and the status is 1. The registry-only forms
                // are unaffected.
                const std::string* fail = !longForm || c.faults.perView.empty()
                                              ? nullptr
                                              : c.faults.get(r->tag, "lsview_fail");
                if (fail)
                    c.error(c.faultText(*fail, *r));
                else
                    render(*r);
            }
            if (stream && out.size() >= kChunk) {
                try {
                    writeAll(1, out);
                } catch (const Error&) {
                    return c.status; // the reader went away
                }
                out.clear();
                ends.clear();
            }
        }
    } else {
        // Index the registry when many tags are named, to stay linear.
        std::unordered_map<std::string_view, const Record*> index;
        if (tags.size() > 8)
            for (const Record& r : reg.records)
                index.emplace(r.tag, &r);
        for (const auto& t : tags) {
            const Record* r = nullptr;
            if (index.empty()) {
                r = reg.find(t);
            } else if (const auto it = index.find(t); it != index.end()) {
                r = it->second;
            }
            if (!r) {
                c.error(notFound(t));
            } else if (const std::string* v = c.faults.get(t, "lsview_fail")) {
                c.error(c.faultText(*v, *r));
            } else {
                render(*r);
            }
        }
    }
    if ((slowMs || stallMs) && !ends.empty()) {
        writeSlowly(c, out, ends, slowMs, stallMs);
        return c.status;
    }
    if (c.faults.get("garbage"))
        out = addGarbage(out);
    if (c.crlf)
        out = toCrlf(out);
    std::uint64_t limit = 0;
    if (const std::string* v = c.faults.get("truncate"); v && parseUint(*v, limit))
        if (limit < out.size())
            out.resize(static_cast<std::size_t>(limit));
    try {
        writeAll(1, out);
        writeEndlessly(c, tags);
    } catch (const Error&) {
    }
    return c.status;
}

const char kCatcsUsage[] = "Usage: catcs [-tag view-tag]\n";

int catcs(Ctx& c, int argc, char** argv) {
    std::string tag;
    bool haveTag = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-tag") {
            if (i + 1 >= argc)
                return usage(c, "Option \"-tag\" requires an argument.", kCatcsUsage);
            tag = argv[++i];
            haveTag = true;
        } else if (!a.empty() && a[0] == '-') {
            return usage(c, "Unrecognized option \"" + std::string(a) + "\"", kCatcsUsage);
        } else {
            return usage(c, "", kCatcsUsage);
        }
    }
    if (!haveTag) {
        c.error("cleartool: Error: Unable to determine view for \".\": not in a view.");
        return 1;
    }
    hangFor(c, {tag});
    const Registry reg = loadRegistry(c.paths.registry());
    const Record* r = reg.find(tag);
    if (!r) {
        c.error(notFound(tag));
        return 1;
    }
    if (const std::string* v = c.faults.get(tag, "catcs_fail")) {
        c.error(c.faultText(*v, *r));
        return 1;
    }
    c.emit(1, reg.configSpec(*r));
    return 0;
}

const char kEndviewUsage[] = "Usage: endview [-server] view-tag\n";

int endview(Ctx& c, int argc, char** argv) {
    bool server = false;
    std::vector<std::string> tags;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (tags.empty() && optionIs(a, "server", 3))
            server = true;
        else if (tags.empty() && a.size() > 1 && a[0] == '-')
            return usage(c, "Unrecognized option \"" + std::string(a) + "\"", kEndviewUsage);
        else
            tags.emplace_back(a);
    }
    if (tags.size() != 1)
        return usage(c, "", kEndviewUsage);
    const std::string& tag = tags[0];
    hangFor(c, tags);
    const Registry reg = loadRegistry(c.paths.registry());
    const Record* r = reg.find(tag);
    if (!r) {
        c.error(notFound(tag));
        return 1;
    }
    if (const std::string* v = c.faults.get(tag, "endview_fail")) {
        c.error(c.faultText(*v, *r));
        return 1;
    }
    // Without -server only the local MVFS mount goes away; the view server
    // (what lsview reports as Active) keeps running.
    if (server && !endView(c.paths, tag)) {
        c.error(notFound(tag));
        return 1;
    }
    return 0;
}

int run(Ctx& c, int argc, char** argv) {
    if (const std::string* v = c.faults.get("slow_ms")) {
        std::uint64_t ms = 0;
        if (parseUint(*v, ms))
            sleepMs(ms);
    }
    if (const std::string* v = c.faults.get("hang"))
        sleepMs(hangDuration(*v));
    if (argc < 2) {
        c.err += "Usage: cleartool subcommand [options/args]\n"
                 "Subcommands here: lsview, catcs, endview (ccsim simulator)\n";
        return c.status = 1;
    }
    const std::string_view cmd = argv[1];
    if (cmd == "lsview")
        return lsview(c, argc, argv);
    if (cmd == "catcs")
        return catcs(c, argc, argv);
    if (cmd == "endview")
        return endview(c, argc, argv);
    if (optionIs(cmd, "version", 3)) {
        c.emit(1, "ClearCase version 9.1.0.0 (ccsim simulator)\n");
        return 0;
    }
    c.error("cleartool: Error: Unrecognized command: \"" + std::string(cmd) + "\"");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    Ctx c;
    int status = 1;
    try {
        c.paths.home = findHome(1);
        appendJournal(c.paths.journal(), "cleartool", argc, argv);
        c.faults = loadFaults(c.paths.faults());
        c.crlf = c.faults.get("crlf") != nullptr;
        c.strict = strictMode(c.paths);
        status = run(c, argc, argv);
    } catch (const Error& e) {
        c.error(std::string("cleartool: Error: ") + e.what());
        status = 1;
    } catch (const std::exception& e) {
        c.error(std::string("cleartool: Error: internal failure: ") + e.what());
        status = 1;
    }
    if (!c.err.empty())
        c.emit(2, c.err);
    return status != 0 ? 1 : 0;
}
