// SPDX-License-Identifier: Apache-2.0
// Simulated ownership of storage entries (see Owner in internal.h).
#include "internal.h"

#include <grp.h>
#include <pwd.h>

#include <cstdio>

namespace ccsim::detail {

std::string ownersFile(const Paths& paths, std::string_view storage) {
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(fnv1a(storage)));
    return paths.owners() + "/" + name;
}

OwnerMap loadOwners(const std::string& file) {
    OwnerMap m;
    std::string data;
    if (!readFileIfExists(file, data))
        return m;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        const std::string_view line(data.data() + start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        const auto fields = splitTabs(line);
        Owner o;
        std::string rel;
        if (fields.size() != 3 || !unescapeField(fields[0], rel) ||
            !unescapeField(fields[1], o.owner) || !unescapeField(fields[2], o.group))
            throw Error("damaged ownership record " + printable(file) + ": " +
                        printable(std::string(line)));
        if (rel == "*")
            m.all = o;
        else
            m.entries[rel] = o;
    }
    return m;
}

void saveOwners(const std::string& file, const OwnerMap& m) {
    std::string out;
    if (m.all)
        out += "*\t" + escapeField(m.all->owner) + '\t' + escapeField(m.all->group) + '\n';
    for (const auto& [rel, o] : m.entries)
        out += escapeField(rel) + '\t' + escapeField(o.owner) + '\t' + escapeField(o.group) + '\n';
    makeDirs(dirName(file));
    writeFileAtomic(file, out);
}

OwnerMap ownersOf(const Paths& paths, const Record& view) {
    const std::string file = ownersFile(paths, view.storage);
    if (!exists(file)) {
        OwnerMap m;
        m.all = Owner{std::string(view.owner), std::string(view.group)};
        return m;
    }
    return loadOwners(file);
}

Owner ownerOf(const OwnerMap& m, const std::string& rel, const struct stat& st) {
    if (const auto it = m.entries.find(rel); it != m.entries.end())
        return it->second;
    if (m.all)
        return *m.all;
    Owner o;
    const passwd* pw = ::getpwuid(st.st_uid);
    o.owner = pw ? pw->pw_name : std::to_string(st.st_uid);
    const group* gr = ::getgrgid(st.st_gid);
    o.group = gr ? gr->gr_name : std::to_string(st.st_gid);
    return o;
}

const Record* storageHolding(const Registry& reg, const std::string& resolved, std::string& rel) {
    const Record* best = nullptr;
    for (const Record& r : reg.records) {
        const std::string_view s = r.storage;
        if (resolved.size() < s.size() || resolved.compare(0, s.size(), s) != 0)
            continue;
        if (resolved.size() > s.size() && resolved[s.size()] != '/')
            continue;
        if (!best || s.size() > best->storage.size())
            best = &r;
    }
    if (best)
        rel = resolved.size() > best->storage.size() ? resolved.substr(best->storage.size() + 1)
                                                     : std::string();
    return best;
}

namespace {
bool listedName(const std::string& list, std::string_view name) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        if (std::string_view(list).substr(start, comma - start) == name)
            return true;
        start = comma + 1;
    }
    return false;
}
} // namespace

bool knownAccount(const Registry& reg, const Faults& faults, bool user, std::string_view name) {
    if (const std::string* v = faults.get("unknown_account"); v && listedName(*v, name))
        return false;
    const std::string n(name);
    if (user ? ::getpwnam(n.c_str()) != nullptr : ::getgrnam(n.c_str()) != nullptr)
        return true;
    std::uint64_t number = 0;
    if (parseUint(name, number))
        return true;
    for (const Record& r : reg.records)
        if ((user ? r.owner : r.group) == name)
            return true;
    return false;
}

} // namespace ccsim::detail
