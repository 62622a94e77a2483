// SPDX-License-Identifier: Apache-2.0
// Stand-in for ClearCase's fix_prot utility. Lives in <home>/etc/utils/fix_prot
// and really repairs the permissions under each storage path it is given:
// directories become 0775, files 0664 (0775 if owner-executable), the
// identity files keep their set-user-ID and set-group-ID bits, unless
// -chmod says otherwise. The whole tree is always walked. With -root,
// -chown and -chgrp it makes a missing .identity and, as IBM documents,
// removes the additional groups (.identity/group.NN).
#include "internal.h"

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ccsim;
using namespace ccsim::detail;

namespace {

const char kUsage[] =
    "Usage: fix_prot [-force] [-root] [-recover] [-recurse | -r] [-replace_server_process]\n"
    "                [-type d|f] [-chown login] [-chgrp group] [-chmod permissions]\n"
    "                storage-pname ...\n";

struct Options {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    bool strict = false;
    bool root = false, recover = false, haveChown = false, haveChgrp = false;
    std::string host;                 // strict mode: the simulated host this runs on
    std::string ownerName, groupName; // as given to -chown and -chgrp
    bool haveChmod = false;
    ChmodSpec chmod;
    char type = 0; // 'd', 'f' or 0 for both
    std::vector<std::string> paths;
};

void say(int fd, const std::string& text) {
    try {
        writeAll(fd, text + "\n");
    } catch (const Error&) {
    }
}

int fail(const std::string& text, bool withUsage = false) {
    say(2, "fix_prot: Error: " + text);
    if (withUsage) {
        try {
            writeAll(2, kUsage);
        } catch (const Error&) {
        }
    }
    return 1;
}

bool resolveUser(const std::string& name, uid_t& uid) {
    if (const passwd* pw = ::getpwnam(name.c_str())) {
        uid = pw->pw_uid;
        return true;
    }
    std::uint64_t n = 0;
    if (parseUint(name, n)) {
        uid = static_cast<uid_t>(n);
        return true;
    }
    return false;
}

bool resolveGroup(const std::string& name, gid_t& gid) {
    if (const group* gr = ::getgrnam(name.c_str())) {
        gid = gr->gr_gid;
        return true;
    }
    std::uint64_t n = 0;
    if (parseUint(name, n)) {
        gid = static_cast<gid_t>(n);
        return true;
    }
    return false;
}

[[noreturn]] void crash(const std::string& how) {
    // No core files from a simulated crash.
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    if (how == "KILL")
        ::raise(SIGKILL);
    std::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
    ::_exit(139); // not reached
}

// Returns 0, or the exit status for this path.
int fixPath(const Paths& paths, const std::string& path, const Options& o, const Registry& reg,
            const Faults& faults) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail("Unable to access \"" + path + "\": " + errnoText(errno));
    if (!S_ISDIR(st.st_mode))
        return fail("\"" + path +
                    "\" is not a directory; expected a view or VOB storage "
                    "directory.");
    std::string resolved = realPath(path);
    const Record* view = nullptr;
    for (const Record& r : reg.records)
        if (r.storage == resolved)
            view = &r;
    if (o.strict && view && view->host != o.host)
        // As over NFS with root squashed: the storage can be seen, not changed.
        return fail("Unable to change ownership of \"" + path +
                    "\": Operation not permitted (the storage is on host '" +
                    std::string(view->host) + "'; fix_prot runs on host '" + o.host +
                    "'; run it on the storage host).");
    const std::string* crashHow = nullptr;
    if (view) {
        std::uint64_t n = 0;
        if (const std::string* v = faults.get(view->tag, "fixprot_sleep_ms"); v && parseUint(*v, n))
            sleepMs(n);
        if (const std::string* v = faults.get(view->tag, "fixprot_exit");
            v && parseUint(*v, n) && n != 0) {
            fail("Unable to fix protections of \"" + path + "\" (simulated failure).");
            return static_cast<int>(n);
        }
        crashHow = faults.get(view->tag, "fixprot_crash");
    }
    if (o.root && o.haveChown && o.haveChgrp && o.type == 0) {
        const std::string id = path + "/.identity";
        std::vector<std::string> names;
        if (isDir(id) && listDirectory(id, names))
            for (const std::string& n : names)
                if (n.rfind("group.", 0) == 0)
                    ::unlink((id + "/" + n).c_str());
        makeIdentity(path);
    }
    std::size_t count = 0;
    std::string error;
    std::vector<std::string> walked; // relative paths, for the ownership records
    const bool ok = walkTree(
        path,
        [&](const std::string& p, const struct stat& s) {
            const bool dir = S_ISDIR(s.st_mode);
            if (!dir && !S_ISREG(s.st_mode))
                return true; // symlinks, sockets: left alone
            if ((o.type == 'd' && !dir) || (o.type == 'f' && dir))
                return true;
            if (crashHow && count == 2)
                crash(*crashHow); // part of the tree fixed, the rest not
            if ((o.uid != static_cast<uid_t>(-1) || o.gid != static_cast<gid_t>(-1)) &&
                ::lchown(p.c_str(), o.uid, o.gid) != 0) {
                error = "Unable to change ownership of \"" + p + "\": " + errnoText(errno);
                return false;
            }
            const std::string rel = p.size() > path.size() ? p.substr(path.size() + 1) : "";
            const mode_t mode =
                o.haveChmod ? o.chmod.apply(s.st_mode, dir) : fixedMode(rel, dir, s.st_mode);
            if (::chmod(p.c_str(), mode) != 0) {
                error = "Unable to change protection of \"" + p + "\": " + errnoText(errno);
                return false;
            }
            ++count;
            if (view)
                walked.push_back(rel);
            return true;
        },
        error);
    if (crashHow)
        crash(*crashHow);
    if (!ok)
        return fail(error);
    if (view && (o.haveChown || o.haveChgrp)) {
        // The ownership the entries show from now on, real or not.
        const std::string file = ownersFile(paths, view->storage);
        OwnerMap m = ownersOf(paths, *view);
        if (o.haveChown && o.haveChgrp && o.type == 0) {
            m.entries.clear();
            m.all = Owner{o.ownerName, o.groupName};
        } else {
            for (const std::string& rel : walked) {
                struct stat es {};
                ::lstat((path + (rel.empty() ? "" : "/" + rel)).c_str(), &es);
                Owner now = ownerOf(m, rel, es);
                if (o.haveChown)
                    now.owner = o.ownerName;
                if (o.haveChgrp)
                    now.group = o.groupName;
                m.entries[rel] = now;
            }
        }
        saveOwners(file, m);
    }
    say(1, "Protections fixed on \"" + path + "\": " + std::to_string(count) + " objects.");
    return 0;
}

// Sets endsPath once the call is journalled, so that main records its end.
int run(int argc, char** argv, std::string& endsPath) {
    const Paths paths{findHome(2)};
    appendJournal(paths.journal(), "fix_prot", argc, argv);
    endsPath = paths.ends();
    const Faults faults = loadFaults(paths.faults());
    const Registry reg = loadRegistry(paths.registry());

    Options o;
    o.strict = strictMode(paths);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc)
                return nullptr;
            (void)what;
            return argv[++i];
        };
        if (a == "-force" || a == "-f" || a == "-root" || a == "-recover" || a == "-recurse" ||
            a == "-r" || a == "-replace_server_process" || a == "-replace" ||
            a == "-replace_server_process_group") {
            o.root = o.root || a == "-root";
            o.recover = o.recover || a == "-recover";
            continue; // accepted; the simulator always walks the whole tree without prompting
        }
        if (a == "-chown" || a == "-chgrp" || a == "-chmod" || a == "-type") {
            const char* v = value(a.c_str());
            if (!v)
                return fail("Option \"" + a + "\" requires an argument.", true);
            if (a == "-chown" || a == "-chgrp") {
                const bool user = a == "-chown";
                (user ? o.haveChown : o.haveChgrp) = true;
                (user ? o.ownerName : o.groupName) = v;
                // Strict mode knows the simulated accounts too: the owners and
                // groups of registered views. Their ownership change is only
                // simulated, as is one the real user could not make. The
                // unknown_account fault makes a name unknown on every host.
                const bool known = knownAccount(reg, faults, user, v);
                const bool real = known && (user ? resolveUser(v, o.uid) : resolveGroup(v, o.gid));
                if (!known || (!real && !o.strict))
                    return fail(std::string(user ? "Unknown user" : "Unknown group") + " \"" + v +
                                "\".");
                if (o.strict && (!real || ::geteuid() != 0))
                    (user ? o.uid : o.gid) = static_cast<uid_t>(-1);
            }
            if (a == "-chmod") {
                if (!parseChmod(v, o.chmod))
                    return fail("Invalid permissions \"" + std::string(v) +
                                "\"; use octal (0775) or symbolic (u+rwx,g+rx) modes.");
                o.haveChmod = true;
            }
            if (a == "-type") {
                const std::string t = v;
                if (t != "d" && t != "f")
                    return fail("Invalid type \"" + t + "\"; use d or f.", true);
                o.type = t[0];
            }
            continue;
        }
        if (a.size() > 1 && a[0] == '-')
            return fail("Unknown option \"" + a + "\".", true);
        o.paths.push_back(a);
    }
    if (o.paths.empty())
        return fail("No storage path given.", true);
    if (o.strict) {
        // UNIX ClearCase: no ACL recovery, ownership named with -root, run
        // as root on the storage host.
        if (o.recover)
            return fail("-recover is supported on Windows only.", true);
        if (o.root && (!o.haveChown || !o.haveChgrp))
            return fail("-root requires both -chown and -chgrp on UNIX.", true);
        // Root is the stand-in sudo's mark (1); the stand-in ssh marks its
        // account as not root (0); unmarked, the real account decides.
        const char* root = std::getenv(kRootEnv);
        const bool isRoot = root ? std::string_view(root) == "1" : ::geteuid() == 0;
        if (!isRoot)
            return fail("Permission denied: fix_prot must be run as root.");
        o.host = currentHost(paths);
    }

    std::uint64_t n = 0;
    if (const std::string* v = faults.get("fixprot_sleep_ms"); v && parseUint(*v, n))
        sleepMs(n);
    if (const std::string* v = faults.get("fixprot_exit"); v && parseUint(*v, n) && n != 0) {
        fail("Unable to fix protections (simulated failure).");
        return static_cast<int>(n);
    }
    int status = 0;
    for (const auto& p : o.paths)
        if (const int s = fixPath(paths, p, o, reg, faults); s != 0)
            status = s;
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // Every return, failures included, leaves an end record beside the
    // journal line; a simulated crash never gets here and leaves none.
    std::string endsPath;
    int status;
    try {
        status = run(argc, argv, endsPath);
    } catch (const std::exception& e) {
        status = fail(e.what());
    }
    if (!endsPath.empty()) {
        try {
            appendEnd(endsPath, "fix_prot", status);
        } catch (const std::exception& e) {
            fail(e.what());
        }
    }
    return status;
}
