// SPDX-License-Identifier: Apache-2.0
// The view registry: <home>/var/ccsim/registry.
//
// After a "# ccsim registry 1" header, one view per line, nine tab-separated
// escaped fields:
//
//   FLAGS  TAG  HOST  REGION  OWNER  GROUP  UUID  STORAGE  CONFIG_SPEC
//
// Lines of eight fields (no GROUP, as older homes wrote them) are read with
// the default group "ccusers".
// FLAGS is exactly three characters: 'a' (active) or '-', 's' (snapshot) or
// '-', 'u' (UCM) or '-'. The active flag is the first byte of the line, so
// endview can flip it in place with a one-byte write under the home's lock
// instead of rewriting a registry of 100,000 views. Lines are appended by
// addView; listings sort by tag themselves.
#include "internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ccsim::detail {

namespace {
constexpr std::string_view kDefaultGroup = "ccusers";
}

std::string Registry::configSpec(const Record& r) const {
    std::string out;
    if (!unescapeField(std::string_view(*data).substr(r.csOffset, r.csLength), out))
        throw Error("view registry is damaged: bad escape in the config spec of " +
                    printable(r.tag));
    return out;
}

const Record* Registry::find(std::string_view tag) const {
    for (const auto& r : records)
        if (r.tag == tag)
            return &r;
    return nullptr;
}

std::vector<const Record*> Registry::sortedByTag() const {
    std::vector<const Record*> out;
    out.reserve(records.size());
    for (const auto& r : records)
        out.push_back(&r);
    const auto less = [](const Record* a, const Record* b) {
        return a->tag < b->tag;
    };
    if (!std::is_sorted(out.begin(), out.end(), less))
        std::sort(out.begin(), out.end(), less);
    return out;
}

Registry parseRegistry(std::string data, const std::string& where) {
    Registry reg;
    *reg.data = std::move(data);
    const std::string_view all = *reg.data;
    if (all.substr(0, kRegistryHeader.size()) != kRegistryHeader)
        throw Error("view registry " + printable(where) +
                    " is damaged: it does not start with \"# ccsim registry 1\"");
    std::size_t pos = kRegistryHeader.size();
    std::size_t lineNo = 1;
    reg.records.reserve(all.size() / 160 + 1);
    while (pos < all.size()) {
        ++lineNo;
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos)
            end = all.size();
        const std::string_view line = all.substr(pos, end - pos);
        const std::size_t lineStart = pos;
        pos = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        const auto damaged = [&](const std::string& why) {
            return Error("view registry " + printable(where) + " is damaged at line " +
                         std::to_string(lineNo) + ": " + why);
        };
        const auto f = splitTabs(line);
        if (f.size() != 9 && f.size() != 8)
            throw damaged("expected 9 tab-separated fields, found " + std::to_string(f.size()));
        const bool hasGroup = f.size() == 9;
        const std::string_view flags = f[0];
        if (flags.size() != 3 || (flags[0] != 'a' && flags[0] != '-') ||
            (flags[1] != 's' && flags[1] != '-') || (flags[2] != 'u' && flags[2] != '-'))
            throw damaged("bad flags " + printable(flags));
        Record r;
        r.active = flags[0] == 'a';
        r.snapshot = flags[1] == 's';
        r.ucm = flags[2] == 'u';
        r.flagOffset = lineStart;
        std::string_view* targets[] = {&r.tag,   &r.host, &r.region, &r.owner,
                                       &r.group, &r.uuid, &r.storage};
        r.group = kDefaultGroup;
        for (std::size_t i = 0, field = 1; i < 7; ++i) {
            if (targets[i] == &r.group && !hasGroup)
                continue;
            const std::string_view text = f[field++];
            if (text.find('\\') == std::string_view::npos) {
                *targets[i] = text;
                continue;
            }
            auto owned = std::make_unique<std::string>();
            if (!unescapeField(text, *owned))
                throw damaged("bad escape in field " + std::to_string(field));
            *targets[i] = *owned;
            reg.unescaped.push_back(std::move(owned));
        }
        if (r.tag.empty())
            throw damaged("empty view tag");
        const std::string_view cs = f.back();
        r.csOffset = static_cast<std::size_t>(cs.data() - all.data());
        r.csLength = cs.size();
        reg.records.push_back(std::move(r));
    }
    return reg;
}

Registry loadRegistry(const std::string& path) {
    return parseRegistry(readFile(path), path);
}

std::string registryLine(const View& v) {
    std::string line;
    line += v.active ? 'a' : '-';
    line += v.snapshot ? 's' : '-';
    line += v.ucm ? 'u' : '-';
    for (const std::string* s :
         {&v.tag, &v.host, &v.region, &v.owner, &v.group, &v.uuid, &v.storage, &v.configSpec}) {
        line += '\t';
        line += escapeField(*s);
    }
    line += '\n';
    return line;
}

View toView(const Registry& reg, const Record& r) {
    View v;
    v.tag = r.tag;
    v.host = r.host;
    v.region = r.region;
    v.owner = r.owner;
    v.group = r.group;
    v.configSpec = reg.configSpec(r);
    v.active = r.active;
    v.snapshot = r.snapshot;
    v.ucm = r.ucm;
    v.storage = r.storage;
    v.uuid = r.uuid;
    return v;
}

void validateTag(std::string_view tag) {
    if (tag.empty())
        throw Error("invalid view tag: the tag is empty");
    if (tag.find('/') != std::string_view::npos)
        throw Error("invalid view tag " + printable(tag) + ": a tag cannot contain '/'");
    if (tag.find('\0') != std::string_view::npos)
        throw Error("invalid view tag " + printable(tag) + ": a tag cannot contain NUL");
    if (tag.find_first_of("\r\n") != std::string_view::npos)
        throw Error("invalid view tag " + printable(tag) + ": a tag cannot contain a line break");
}

void validateHost(std::string_view host) {
    if (host.empty())
        throw Error("invalid host: the host name is empty");
    if (host.find('\0') != std::string_view::npos ||
        host.find_first_of("\r\n") != std::string_view::npos)
        throw Error("invalid host " + printable(host) + ": it contains NUL or a line break");
}

std::string makeUuid(std::string_view tag, std::string_view host) {
    // Same shape as ClearCase uuids: 8.8.4 hex digits, then six colon-separated
    // bytes (7ddcc71f.d21511e1.8c47.80:c1:6e:e6:4b:b1).
    const std::uint64_t a = fnv1a(std::string(tag) + '\x01' + std::string(host));
    const std::uint64_t b = fnv1a(std::string(host) + '\x02' + std::string(tag));
    static const char hex[] = "0123456789abcdef";
    std::string out;
    const auto put = [&](std::uint64_t v, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            out += hex[(v >> (4 * i)) & 15];
    };
    put(a >> 32, 8);
    out += '.';
    put(a, 8);
    out += '.';
    put(b >> 48, 4);
    for (int i = 5; i >= 0; --i) {
        out += i == 5 ? '.' : ':';
        put(b >> (8 * i), 2);
    }
    return out;
}

bool endView(const Paths& paths, std::string_view tag) {
    FileLock lock(paths.lock());
    const Registry reg = loadRegistry(paths.registry());
    const Record* r = reg.find(tag);
    if (!r)
        return false;
    if (!r->active)
        return true;
    const int fd = ::open(paths.registry().c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throw Error("cannot update " + printable(paths.registry()) + ": " + errnoText(errno));
    const char inactive = '-';
    const ssize_t n = ::pwrite(fd, &inactive, 1, static_cast<off_t>(r->flagOffset));
    const int err = errno;
    ::close(fd);
    if (n != 1)
        throw Error("cannot update " + printable(paths.registry()) + ": " + errnoText(err));
    return true;
}

} // namespace ccsim::detail
