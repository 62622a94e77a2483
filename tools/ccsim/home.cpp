// SPDX-License-Identifier: Apache-2.0
// ccsim::Home: creating, filling and inspecting simulated ClearCase homes.
#include "ccsim_paths.h"
#include "internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

namespace ccsim {

using namespace detail;

namespace {

std::string& programDirOverride() {
    static std::string dir;
    return dir;
}

// The stand-ins a new home gets: built program name, place in the home.
struct Program {
    const char* built;
    const char* inHome;
};
const Program kPrograms[] = {
    {"cleartool", "bin/cleartool"},       {"fix_prot", "etc/utils/fix_prot"},
    {"ccsim-ssh", "var/ccsim/bin/ssh"},   {"ccsim-sudo", "var/ccsim/bin/sudo"},
    {"ccsim-find", "var/ccsim/bin/find"},
};
const char* const kBuiltPaths[] = {CCSIM_CLEARTOOL_PATH, CCSIM_FIXPROT_PATH, CCSIM_SSH_PATH,
                                   CCSIM_SUDO_PATH, CCSIM_FIND_PATH};

// Where the stand-ins to copy into a new home live, in kPrograms order.
std::vector<std::string> locatePrograms() {
    std::string dir = programDirOverride();
    if (dir.empty()) {
        try {
            dir = dirName(selfExe());
        } catch (const Error&) {
        }
        for (const Program& p : kPrograms)
            if (!dir.empty() && !exists(dir + "/" + p.built))
                dir.clear();
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < std::size(kPrograms); ++i)
        out.push_back(dir.empty() ? std::string(kBuiltPaths[i]) : dir + "/" + kPrograms[i].built);
    for (const std::string& p : out)
        if (!exists(p))
            throw Error("cannot find the simulator program " + printable(p) +
                        "; build the cleartool, fix_prot, ccsim_ssh, ccsim_sudo and ccsim_find "
                        "targets first");
    return out;
}

const char* const kDefaultConfigSpec = "element * CHECKEDOUT\nelement * /main/LATEST\n";

} // namespace

void Home::setProgramDir(const std::string& dir) {
    programDirOverride() = dir;
}

Home Home::create(const std::string& dir) {
    if (dir.empty())
        throw Error("no home directory given");
    makeDirs(dir);
    const std::string abs = realPath(dir);
    Paths p{abs};
    if (exists(p.registry()))
        throw Error(printable(abs) + " already is a ccsim home");
    const std::vector<std::string> programs = locatePrograms();
    makeDirs(abs + "/bin");
    makeDirs(abs + "/etc/utils");
    makeDirs(p.bin());
    makeDirs(p.storage());
    makeDirs(p.net());
    for (std::size_t i = 0; i < programs.size(); ++i)
        copyExecutable(programs[i], abs + "/" + kPrograms[i].inHome);
    saveFaults(p.faults(), Faults{});
    writeFileAtomic(p.journal(), "");
    writeFileAtomic(p.ends(), "");
    writeFileAtomic(p.registry(), kRegistryHeader); // last: its presence marks a home
    return Home(abs);
}

Home::Home(std::string dir) {
    if (dir.empty())
        throw Error("no home directory given");
    if (!isDir(dir))
        throw Error("ccsim home " + printable(dir) + " does not exist");
    dir_ = realPath(dir);
    if (!exists(registryPath()))
        throw Error(printable(dir_) + " is not a ccsim home (no var/ccsim/registry)");
}

std::string Home::cleartoolPath() const {
    return dir_ + "/bin/cleartool";
}
std::string Home::fixProtPath() const {
    return dir_ + "/etc/utils/fix_prot";
}
std::string Home::registryPath() const {
    return Paths{dir_}.registry();
}
std::string Home::faultsPath() const {
    return Paths{dir_}.faults();
}
std::string Home::journalPath() const {
    return Paths{dir_}.journal();
}
std::string Home::endsPath() const {
    return Paths{dir_}.ends();
}
std::string Home::storageRoot() const {
    return Paths{dir_}.storage();
}
std::string Home::sshPath() const {
    return Paths{dir_}.bin() + "/ssh";
}
std::string Home::sudoPath() const {
    return Paths{dir_}.bin() + "/sudo";
}

void Home::setStrict(bool on) {
    const Paths p{dir_};
    if (!on) {
        if (exists(p.strict()) && ::unlink(p.strict().c_str()) != 0)
            throw Error("cannot remove " + printable(p.strict()) + ": " + errnoText(errno));
        return;
    }
    // Homes made before the net links existed get them now.
    std::vector<std::string> hosts;
    if (listDirectory(p.storage(), hosts))
        for (const std::string& h : hosts)
            if (isDir(p.storage() + "/" + h))
                ensureNetLink(p, h);
    writeFileAtomic(p.strict(), "strict UNIX mode: see ccsim --help\n");
}

bool Home::strict() const {
    return strictMode(Paths{dir_});
}

void Home::setLocalHost(const std::string& name) {
    const Paths p{dir_};
    if (name.empty()) {
        if (exists(p.localHost()) && ::unlink(p.localHost().c_str()) != 0)
            throw Error("cannot remove " + printable(p.localHost()) + ": " + errnoText(errno));
        return;
    }
    validateHost(name);
    writeFileAtomic(p.localHost(), name + "\n");
}

std::string Home::localHost() const {
    return detail::localHost(Paths{dir_});
}

std::string Home::hostLockDir(const std::string& host) const {
    return Paths{dir_}.hostLocks(host);
}

std::string Home::globalPath(const std::string& tag) const {
    const auto v = find(tag);
    if (!v)
        throw Error("no view with tag " + printable(tag) + " is registered");
    return detail::globalPath(Paths{dir_}, v->storage, strict());
}

std::string Home::globalPath(const View& v) const {
    return detail::globalPath(Paths{dir_}, v.storage, strict());
}

View Home::addView(View v) {
    validateTag(v.tag);
    validateHost(v.host);
    for (const std::string* s : {&v.region, &v.owner, &v.group})
        if (s->find('\0') != std::string::npos || s->find_first_of("\r\n") != std::string::npos)
            throw Error("invalid region, owner or group " + printable(*s));
    if (v.group.empty())
        v.group = "ccusers";
    if (v.region.empty())
        v.region = "sim";
    if (v.configSpec.empty())
        v.configSpec = kDefaultConfigSpec;
    const Paths p{dir_};
    FileLock lock(p.lock());
    const Registry reg = loadRegistry(p.registry());
    if (reg.find(v.tag))
        throw Error("view tag " + printable(v.tag) + " is already registered");
    v.uuid = makeUuid(v.tag, v.host);
    if (v.storage.empty()) {
        const std::string base = p.storage() + "/" + encodeFileName(v.host, "") + "/";
        v.storage = base + encodeFileName(v.tag, ".vws");
        // Two tags can encode to one name (a tab and a literal "%09"); keep
        // storages apart.
        for (int n = 2; exists(v.storage); ++n)
            v.storage = base + encodeFileName(v.tag + "~" + std::to_string(n), ".vws");
    }
    createStorage(v.storage, v);
    if (const std::string hostDir = dirName(v.storage); dirName(hostDir) == p.storage())
        ensureNetLink(p, hostDir.substr(p.storage().size() + 1));
    const std::string line = registryLine(v);
    const int fd = ::open(p.registry().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        throw Error("cannot update " + printable(p.registry()) + ": " + errnoText(errno));
    try {
        writeAll(fd, line);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return v;
}

std::vector<View> Home::views() const {
    const Registry reg = loadRegistry(registryPath());
    std::vector<View> out;
    out.reserve(reg.records.size());
    for (const Record& r : reg.records)
        out.push_back(toView(reg, r));
    return out;
}

std::optional<View> Home::find(const std::string& tag) const {
    const Registry reg = loadRegistry(registryPath());
    if (const Record* r = reg.find(tag))
        return toView(reg, *r);
    return std::nullopt;
}

namespace {

// fixprot_noexec takes the execute bits off etc/utils/fix_prot; fixprot_dir
// moves the program to var/ccsim/fix_prot.saved and puts a directory there.
void breakFixProt(const Paths& p, const std::string& name) {
    const std::string prog = p.fixProt();
    if (name == "fixprot_noexec") {
        if (!isDir(prog) && ::chmod(prog.c_str(), 0644) != 0)
            throw Error("cannot change " + printable(prog) + ": " + errnoText(errno));
    } else if (!isDir(prog)) {
        if (::rename(prog.c_str(), p.savedFixProt().c_str()) != 0)
            throw Error("cannot move " + printable(prog) + ": " + errnoText(errno));
        makeDirs(prog);
    }
}

// Undoes breakFixProt; nothing to do for an intact program.
void restoreFixProt(const Paths& p) {
    const std::string prog = p.fixProt();
    if (exists(p.savedFixProt())) {
        if (isDir(prog))
            removeTree(prog);
        if (::rename(p.savedFixProt().c_str(), prog.c_str()) != 0)
            throw Error("cannot restore " + printable(prog) + ": " + errnoText(errno));
    }
    if (exists(prog) && !isDir(prog))
        ::chmod(prog.c_str(), 0755);
}

} // namespace

void Home::setFault(const std::string& name, const std::string& value) {
    validateFault(false, name, value);
    const Paths p{dir_};
    FileLock lock(p.lock());
    Faults f = loadFaults(faultsPath());
    if (name == "fixprot_noexec" || name == "fixprot_dir")
        breakFixProt(p, name);
    f.global[name] = value;
    saveFaults(faultsPath(), f);
}

void Home::setViewFault(const std::string& tag, const std::string& name, const std::string& value) {
    validateTag(tag);
    validateFault(true, name, value);
    FileLock lock(Paths{dir_}.lock());
    if (!loadRegistry(registryPath()).find(tag))
        throw Error("no view with tag " + printable(tag) + " is registered");
    Faults f = loadFaults(faultsPath());
    f.perView[tag][name] = value;
    saveFaults(faultsPath(), f);
}

void Home::clearFaults() {
    const Paths p{dir_};
    FileLock lock(p.lock());
    restoreFixProt(p);
    saveFaults(faultsPath(), Faults{});
}

std::vector<Fault> Home::faults() const {
    const Faults f = loadFaults(faultsPath());
    std::vector<Fault> out;
    for (const auto& [name, value] : f.global)
        out.push_back({"", name, value});
    for (const auto& [tag, faults] : f.perView)
        for (const auto& [name, value] : faults)
            out.push_back({tag, name, value});
    return out;
}

std::vector<JournalEntry> Home::journal() const {
    return readJournal(journalPath());
}

std::vector<JournalEntry> Home::ends() const {
    return readJournal(endsPath());
}

void Home::clearJournal() {
    writeFileAtomic(journalPath(), "");
    writeFileAtomic(endsPath(), "");
}

bool Home::storageFixed(const std::string& tag) const {
    const auto v = find(tag);
    if (!v)
        throw Error("no view with tag " + printable(tag) + " is registered");
    if (!isDir(v->storage))
        return false;
    std::string error;
    bool fixed = true;
    const std::string& root = v->storage;
    walkTree(
        root,
        [&](const std::string& path, const struct stat& st) {
            if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))
                fixed = fixed && isFixedMode(path.substr(std::min(path.size(), root.size() + 1)),
                                             S_ISDIR(st.st_mode), st.st_mode);
            return fixed;
        },
        error);
    return fixed && error.empty();
}

namespace {
// The registered view of tag, or an error naming it.
const Record& registered(const Registry& reg, const std::string& tag) {
    const Record* r = reg.find(tag);
    if (!r)
        throw Error("no view with tag " + printable(tag) + " is registered");
    return *r;
}

// A storage entry's name as the ownership records key it: no trailing '/'.
std::string entry_name(std::string rel) {
    while (!rel.empty() && rel.back() == '/')
        rel.pop_back();
    return rel;
}
} // namespace

void Home::setOwner(const std::string& tag, const std::string& rel, const std::string& owner,
                    const std::string& group) {
    const Paths p{dir_};
    const Registry reg = loadRegistry(p.registry());
    const Record* r = &registered(reg, tag);
    const bool dir = !rel.empty() && rel.back() == '/';
    const std::string name = entry_name(rel);
    if (name.find("..") != std::string::npos || (!name.empty() && name.front() == '/'))
        throw Error("not a path inside the storage: " + printable(rel));
    const std::string path = std::string(r->storage) + (name.empty() ? "" : "/" + name);
    if (!exists(path)) {
        if (dir)
            makeDirs(path);
        else {
            makeDirs(dirName(path));
            writeNew(path, "view-private\n", 0644);
        }
    }
    OwnerMap m = ownersOf(p, *r);
    m.entries[name] = Owner{owner, group};
    saveOwners(ownersFile(p, r->storage), m);
}

std::string Home::ownerOf(const std::string& tag, const std::string& rel) const {
    const Paths p{dir_};
    const Registry reg = loadRegistry(p.registry());
    const Record* r = &registered(reg, tag);
    const std::string name = entry_name(rel);
    const std::string path = std::string(r->storage) + (name.empty() ? "" : "/" + name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        throw Error(printable(path) + ": " + errnoText(errno));
    const Owner o = detail::ownerOf(ownersOf(p, *r), name, st);
    return o.owner + ":" + o.group;
}

void Home::breakStorage(const std::string& tag, unsigned kinds) {
    const Registry reg = loadRegistry(registryPath());
    const auto breakOne = [&](const Record& r) {
        const std::string dir(r.storage);
        const View v = toView(reg, r);
        if (kinds & BreakMode)
            detail::breakStorage(dir, v);
        else if (!isDir(dir))
            createStorage(dir, v);
        if (kinds & BreakOwner)
            setOwner(v.tag, "db/view_db.dbd", "nobody", v.group);
        if (kinds & BreakIdentity)
            removeTree(dir + "/.identity");
        if (kinds & BreakGroups) {
            // Additional groups of the view's identity: one file each, in
            // that group. Not damage; fix_prot removes them all the same.
            makeIdentity(dir);
            for (const char* g : {"2001:ccdev", "2002:ccqa"}) {
                const std::string_view spec(g);
                const std::string file = ".identity/group." + std::string(spec.substr(0, 4));
                writeNew(dir + "/" + file, std::string(), 0440);
                setOwner(v.tag, file, v.owner, std::string(spec.substr(5)));
            }
        }
    };
    if (!tag.empty()) {
        breakOne(registered(reg, tag));
        return;
    }
    for (const Record& r : reg.records)
        breakOne(r);
}

namespace {

// What fix_prot -root -chown OWNER -chgrp GROUP leaves in the view's
// storage dir: the modes it sets, its identity, its owner and group.
void makeSound(const Paths& p, const std::string& dir, const View& v) {
    if (!isDir(dir))
        createStorage(dir, v);
    makeIdentity(dir);
    std::string error;
    walkTree(
        dir,
        [&dir](const std::string& path, const struct stat& st) {
            if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))
                ::chmod(path.c_str(), fixedMode(path.substr(std::min(path.size(), dir.size() + 1)),
                                                S_ISDIR(st.st_mode), st.st_mode));
            return true;
        },
        error);
    if (!error.empty())
        throw Error("cannot fix " + printable(dir) + ": " + error);
    OwnerMap m;
    m.all = Owner{v.owner, v.group};
    saveOwners(ownersFile(p, dir), m);
}

} // namespace

void Home::fixStorage(const std::string& tag) {
    const Paths p{dir_};
    const Registry reg = loadRegistry(p.registry());
    const Record& r = registered(reg, tag);
    makeSound(p, std::string(r.storage), toView(reg, r));
}

// ---- generator ----------------------------------------------------------

namespace {

// splitmix64: small, fast and the same on every platform (unlike the
// standard distributions), so a seed always yields the same views.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    template <typename T, std::size_t N> const T& pick(const T (&a)[N]) { return a[below(N)]; }

private:
    std::uint64_t s_;
};

const char* const kUsers[] = {
    "ajones",    "bsmith",  "cwong",      "dmiller", "egarcia", "fmueller", "gnakamura", "hpatel",
    "ikowalski", "jdubois", "kschmidt",   "lrossi",  "mnovak",  "nsilva",   "okim",      "pnguyen",
    "qli",       "rbrown",  "sjohansson", "tmartin", "uyilmaz", "vpetrov",  "wchen",     "xlopez"};
const char* const kProjects[] = {"core", "gui",      "billing", "netlib",   "installer", "kernel",
                                 "docs", "payments", "reports", "firmware", "toolkit",   "portal"};
const char* const kReleases[] = {"6.2", "7.0", "7.1", "8.0", "8.1", "9.0"};
const char* const kStreams[] = {"dev", "int", "hotfix", "maint", "feature"};

std::string two(std::size_t n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string hostName(const GenerateOptions& o, std::size_t i) {
    if (!o.hostNames.empty())
        return o.hostNames[i % o.hostNames.size()];
    return "ccview" + two(i % std::max<std::size_t>(o.hosts, 1) + 1);
}

std::string csDev(const std::string& branch, const std::string& release) {
    return "element * CHECKEDOUT\n"
           "element * .../" +
           branch +
           "/LATEST\n"
           "element * REL_" +
           release + "_BASELINE -mkbranch " + branch +
           "\n"
           "element * /main/LATEST -mkbranch " +
           branch + "\n";
}

std::string csInt(const std::string& release) {
    return "element * CHECKEDOUT\n"
           "element * .../rel_" +
           release +
           "_int/LATEST\n"
           "element * /main/LATEST\n";
}

std::string csNightly(const std::string& label, const std::string& project) {
    return "# nightly build, read only\n"
           "element * " +
           label +
           " -nocheckout\n"
           "element /vobs/" +
           project + "/... /main/LATEST -nocheckout\n";
}

std::string csUcm(const std::string& stream, Rng& rng) {
    char oid[40];
    std::snprintf(oid, sizeof oid, "%08llx.%08llx",
                  static_cast<unsigned long long>(rng.next() & 0xffffffffULL),
                  static_cast<unsigned long long>(rng.next() & 0xffffffffULL));
    return std::string("ucm\nidentity UCM.Stream oid:") + oid + "@vobuuid:" + oid +
           " 1\n\n# ONLY EDIT THIS CONFIG SPEC IN THE INDICATED \"CUSTOM\" AREAS\n"
           "element * CHECKEDOUT\n"
           "element * .../" +
           stream + "/LATEST\nelement * /main/0 -ucm -nocheckout\n";
}

View plausibleView(Rng& rng, const GenerateOptions& o, std::size_t index) {
    View v;
    v.host = hostName(
        o, rng.below(o.hostNames.empty() ? std::max<std::size_t>(o.hosts, 1) : o.hostNames.size()));
    const std::string user = rng.pick(kUsers);
    const std::string project = rng.pick(kProjects);
    const std::string release = rng.pick(kReleases);
    const std::size_t kind = rng.below(100);
    if (kind < 30) { // developer view on a project branch
        v.tag = user + "_" + project + "_dev";
        v.owner = user;
        v.configSpec = csDev(v.tag, release);
    } else if (kind < 50) { // task branch
        v.tag = user + "_task" + std::to_string(1000 + rng.below(90000)) + "_dev";
        v.owner = user;
        v.configSpec = csDev(v.tag.substr(user.size() + 1), release);
    } else if (kind < 60) { // integration
        v.tag = project + "_rel_" + release + "_int";
        v.owner = "ccadm";
        v.configSpec = csInt(release);
    } else if (kind < 72) { // nightly build
        const std::size_t day = rng.below(1000);
        const std::string date =
            std::to_string(2022 + day / 336) + two(day % 336 / 28 + 1) + two(day % 28 + 1);
        v.tag = "nightly_" + project + "_" + date;
        v.owner = "ccbuild";
        v.configSpec = csNightly("NIGHTLY_" + date, project);
    } else if (kind < 87) { // snapshot
        v.tag = user + "_" + project + "_snap";
        v.owner = user;
        v.snapshot = true;
        v.configSpec =
            csDev(user + "_" + project + "_dev", release) + "load /vobs/" + project + "\n";
    } else { // UCM
        const std::string stream = project + "_" + rng.pick(kStreams);
        v.tag = user + "_" + stream;
        v.owner = user;
        v.ucm = true;
        v.snapshot = rng.below(3) == 0;
        v.configSpec = csUcm(stream, rng);
    }
    v.active = rng.below(100) < 25;
    v.group = v.owner == "ccadm" || v.owner == "ccbuild" ? "ccadmin" : "ccusers";
    (void)index;
    return v;
}

} // namespace

void Home::generate(std::size_t n, const GenerateOptions& o) {
    const Paths p{dir_};
    FileLock lock(p.lock());
    const Registry reg = loadRegistry(p.registry());
    std::unordered_set<std::string> tags;
    tags.reserve(reg.records.size() + n);
    for (const Record& r : reg.records)
        tags.emplace(r.tag);
    std::unordered_map<std::string, std::size_t> nextSuffix;
    Rng rng(o.seed);
    std::vector<View> made;
    made.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        View v = plausibleView(rng, o, i);
        if (!tags.insert(v.tag).second) {
            // Common names repeat: number them, remembering where each name's
            // numbering got to so 100,000 views stay fast.
            const std::string base = v.tag;
            std::size_t& k = nextSuffix.try_emplace(base, 2).first->second;
            while (!tags.insert(v.tag = base + "_" + std::to_string(k)).second)
                ++k;
            ++k;
        }
        made.push_back(std::move(v));
    }
    if (o.shuffle) {
        for (std::size_t i = made.size(); i > 1; --i)
            std::swap(made[i - 1], made[rng.below(i)]);
    } else {
        std::sort(made.begin(), made.end(),
                  [](const View& a, const View& b) { return a.tag < b.tag; });
    }
    std::string lines;
    lines.reserve(made.size() * 300);
    std::unordered_set<std::string> hostDirs;
    const double broken = std::clamp(o.broken, 0.0, 1.0);
    for (std::size_t i = 0; i < made.size(); ++i) {
        View& v = made[i];
        v.uuid = makeUuid(v.tag, v.host);
        const std::string hostDir = p.storage() + "/" + encodeFileName(v.host, "");
        v.storage = hostDir + "/" + encodeFileName(v.tag, ".vws");
        if (o.storage) {
            if (hostDirs.insert(hostDir).second) {
                makeDirs(hostDir);
                ensureNetLink(p, encodeFileName(v.host, ""));
            }
            createStorage(v.storage, v);
            // View i is broken when the running count of broken views,
            // (i + 1) * broken rounded down, steps up at it.
            const auto upTo = [broken](std::size_t k) {
                return static_cast<std::size_t>(static_cast<double>(k) * broken);
            };
            if (upTo(i + 1) == upTo(i))
                makeSound(p, v.storage, v);
        }
        lines += registryLine(v);
    }
    const int fd = ::open(p.registry().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        throw Error("cannot update " + printable(p.registry()) + ": " + errnoText(errno));
    try {
        writeAll(fd, lines);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

void Home::makeDemo() {
    // A few hand-picked views first, so a demo always shows each kind.
    const auto add = [this](std::string tag, std::string host, std::string owner, bool active,
                            bool snapshot, bool ucm, std::string cs) {
        View v;
        v.tag = std::move(tag);
        v.host = std::move(host);
        v.owner = std::move(owner);
        v.group = v.owner == "ccadm" || v.owner == "ccbuild" ? "ccadmin" : "ccusers";
        v.active = active;
        v.snapshot = snapshot;
        v.ucm = ucm;
        v.configSpec = std::move(cs);
        addView(std::move(v));
    };
    add("ccadm_rel_8.0_int", "ccbuild01", "ccadm", true, false, false, csInt("8.0"));
    add("rel_8.1_int", "ccbuild01", "ccadm", false, false, false, csInt("8.1"));
    add("ajones_task4711_dev", "ccview01", "ajones", true, false, false, csDev("task4711", "8.0"));
    add("bsmith_gui_snap", "ccsnap01", "bsmith", true, true, false,
        csDev("bsmith_gui_dev", "8.1") + "load /vobs/gui\n");
    add("cwong_payments_int", "ccview02", "cwong", false, false, true,
        "ucm\nidentity UCM.Stream oid:4c2a91b3.77e011ee.9a31.00:16:3e:5a:21:0c@vobuuid:"
        "1f0e3c2d.77e011ee.9a2f.00:16:3e:5a:21:0c 2\n\nelement * CHECKEDOUT\n"
        "element * .../payments_int/LATEST\nelement * /main/0 -ucm -nocheckout\n");
    add("nightly_core_20240301", "ccbuild02", "ccbuild", false, false, false,
        csNightly("NIGHTLY_20240301", "core"));
    GenerateOptions o;
    o.seed = 2024;
    o.hostNames = {"ccview01", "ccview02", "ccview03", "ccbuild01", "ccbuild02", "ccsnap01"};
    generate(294, o);
    // A site as a night finds it: half the storages sound, the others each
    // with one kind of damage, and some sound ones with additional groups.
    const Registry reg = loadRegistry(registryPath());
    std::size_t i = 0;
    for (const Record& r : reg.records) {
        const std::string tag(r.tag);
        fixStorage(tag);
        switch (i % 6) {
        case 3:
            breakStorage(tag, BreakMode);
            break;
        case 4:
            breakStorage(tag, BreakOwner);
            break;
        case 5:
            breakStorage(tag, BreakIdentity);
            break;
        default:
            if (i % 12 == 1)
                breakStorage(tag, BreakGroups);
        }
        ++i;
    }
}

} // namespace ccsim
