// SPDX-License-Identifier: Apache-2.0
// View storage directories and their permissions.
//
// A simulated storage directory looks like a small dynamic-view storage:
//
//   <tag>.vws/          0700  (group cannot enter: a umask of 077, not damage)
//     .view             0600
//     config_spec       0400  (broken: its owner cannot write it)
//     .pid              0666  (broken: world-writable)
//     .identity/        0755
//       uid             04400 (set-user-ID, owned by the view's owner)
//       gid             02410 (set-group-ID, in the view's group)
//     .s/               0700  (the view-private storage)
//     db/               0700
//       view_db.dbd     0640
//
// fix_prot turns every directory into 0775 and every file into 0664 (0775
// if the owner may execute it), but for the identity files, which keep
// their special bits; it makes a missing .identity and removes additional
// groups (.identity/group.NN).
#include "internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ccsim::detail {

namespace {
constexpr std::size_t kMaxName = 255;

struct Entry {
    const char* path; // relative to the storage root; "" = the root
    bool dir;
    mode_t brokenMode;
};

const Entry kLayout[] = {
    {"", true, 0700},
    {".view", false, 0600},
    {"config_spec", false, 0400},
    {".pid", false, 0666},
    {".identity", true, 0755},
    {".identity/uid", false, 04400},
    {".identity/gid", false, 02410},
    {".s", true, 0700},
    {"db", true, 0700},
    {"db/view_db.dbd", false, 0640},
};

bool isIdentityFile(std::string_view rel) {
    return rel.substr(0, 10) == ".identity/";
}

std::string fileContent(const std::string& name, const View& v) {
    if (name == ".view")
        return v.storage + "\n" + v.uuid + "\n" + v.host + "\n";
    if (name == "config_spec")
        return v.configSpec;
    if (name == ".pid")
        return "0\n";
    if (isIdentityFile(name))
        return std::string();
    return "ccsim view database\n";
}
} // namespace

std::string encodeFileName(std::string_view name, std::string_view suffix) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size() + suffix.size());
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/' || c < 0x20 || c == 0x7f) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    if (suffix.empty() && (out == "." || out == ".."))
        out = out == "." ? "%2E" : "%2E%2E";
    if (out.size() + suffix.size() > kMaxName) {
        std::size_t cut = 200;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut; // do not split a UTF-8 sequence
        if (cut >= 1 && out[cut - 1] == '%')
            cut -= 1; // nor a %XX escape
        else if (cut >= 2 && out[cut - 2] == '%')
            cut -= 2;
        static const char lower[] = "0123456789abcdef";
        const std::uint64_t h = fnv1a(name);
        out.resize(cut);
        out += '~';
        for (int i = 15; i >= 0; --i)
            out += lower[(h >> (4 * i)) & 15];
    }
    out += suffix;
    return out;
}

void createStorage(const std::string& dir, const View& v) {
    if (const std::string parent = dirName(dir); !isDir(parent))
        makeDirs(parent);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw Error("cannot create storage " + printable(dir) + ": " + errnoText(errno));
    for (const Entry& e : kLayout) {
        const std::string path = *e.path ? dir + "/" + e.path : dir;
        if (e.dir) {
            if (*e.path && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
                throw Error("cannot create " + printable(path) + ": " + errnoText(errno));
        } else {
            writeNew(path, fileContent(e.path, v), e.brokenMode);
        }
    }
    // Directories last, so a 0700 root never blocks creating its children.
    for (const Entry& e : kLayout)
        if (e.dir)
            ::chmod((*e.path ? dir + "/" + e.path : dir).c_str(), e.brokenMode);
}

void breakStorage(const std::string& dir, const View& v) {
    if (!isDir(dir)) {
        createStorage(dir, v);
        return;
    }
    std::string error;
    const bool ok = walkTree(
        dir,
        [&dir](const std::string& path, const struct stat& st) {
            if (isIdentityFile(
                    std::string_view(path).substr(std::min(path.size(), dir.size() + 1))))
                return true; // the identity is a kind of damage of its own
            if (S_ISDIR(st.st_mode))
                ::chmod(path.c_str(), 0700);
            else if (S_ISREG(st.st_mode))
                ::chmod(path.c_str(), 0600);
            return true;
        },
        error);
    if (!ok)
        throw Error("cannot break permissions under " + printable(dir) + ": " + error);
    for (const Entry& e : kLayout) {
        const std::string path = *e.path ? dir + "/" + e.path : dir;
        if (isIdentityFile(e.path) && !isDir(dir + "/.identity"))
            continue;
        if (!exists(path)) {
            if (e.dir)
                ::mkdir(path.c_str(), e.brokenMode);
            else
                writeNew(path, fileContent(e.path, v), e.brokenMode);
        }
        ::chmod(path.c_str(), e.brokenMode);
    }
}

void makeIdentity(const std::string& dir) {
    const std::string id = dir + "/.identity";
    if (::mkdir(id.c_str(), 0755) != 0 && errno != EEXIST)
        throw Error("cannot create " + printable(id) + ": " + errnoText(errno));
    for (const char* name : {"uid", "gid"}) {
        const std::string path = id + "/" + name;
        if (!exists(path))
            writeNew(path, std::string(), 0600);
        ::chmod(path.c_str(), fixedMode(std::string(".identity/") + name, false, 0));
    }
}

bool isFixedMode(const std::string& rel, bool isDirectory, mode_t mode) {
    return (mode & 07777) == fixedMode(rel, isDirectory, mode);
}

mode_t fixedMode(const std::string& rel, bool isDirectory, mode_t mode) {
    // The modes a public administration script gives the identity files:
    // the special bits are what the view server reads.
    if (rel == ".identity/uid")
        return 04400;
    if (rel == ".identity/gid")
        return 02410;
    if (isDirectory || (mode & S_IXUSR))
        return 0775;
    return 0664;
}

bool walkTree(const std::string& root, const WalkFn& fn, std::string& error) {
    struct stat st {};
    if (::lstat(root.c_str(), &st) != 0) {
        error = printable(root) + ": " + errnoText(errno);
        return false;
    }
    if (!fn(root, st))
        return false;
    if (!S_ISDIR(st.st_mode))
        return true;
    std::vector<std::string> names;
    if (!listDirectory(root, names)) {
        error = "cannot read directory " + printable(root) + ": " + errnoText(errno);
        return false;
    }
    for (const auto& n : names)
        if (!walkTree(root + "/" + n, fn, error))
            return false;
    return true;
}

mode_t ChmodSpec::apply(mode_t current, bool isDirectory) const {
    if (absolute)
        return mode;
    mode_t m = current & 07777;
    for (const Clause& c : clauses) {
        mode_t perms = c.perms;
        if (c.condExec && (isDirectory || (current & 0111)))
            perms |= 0111;
        perms &= c.who;
        if (c.op == '+')
            m |= perms;
        else if (c.op == '-')
            m &= ~perms;
        else
            m = (m & ~(c.who & 0777)) | perms;
    }
    return m;
}

bool parseChmod(std::string_view text, ChmodSpec& out) {
    out = ChmodSpec{};
    if (text.empty())
        return false;
    if (text.find_first_not_of("01234567") == std::string_view::npos) {
        if (text.size() > 4)
            return false;
        mode_t m = 0;
        for (char c : text)
            m = m * 8 + static_cast<mode_t>(c - '0');
        out.absolute = true;
        out.mode = m;
        return true;
    }
    std::size_t i = 0;
    while (i <= text.size()) {
        ChmodSpec::Clause c{0, 0, 0, false};
        for (; i < text.size() && std::string_view("ugoa").find(text[i]) != std::string_view::npos;
             ++i)
            c.who |= text[i] == 'u' ? 0700 : text[i] == 'g' ? 0070 : text[i] == 'o' ? 0007 : 0777;
        if (c.who == 0)
            c.who = 0777;
        if (i >= text.size() || std::string_view("+-=").find(text[i]) == std::string_view::npos)
            return false;
        c.op = text[i++];
        for (; i < text.size() && text[i] != ','; ++i) {
            switch (text[i]) {
            case 'r':
                c.perms |= 0444;
                break;
            case 'w':
                c.perms |= 0222;
                break;
            case 'x':
                c.perms |= 0111;
                break;
            case 'X':
                c.condExec = true;
                break;
            default:
                return false;
            }
        }
        out.clauses.push_back(c);
        if (i >= text.size())
            break;
        ++i; // the comma
        if (i >= text.size())
            return false; // trailing comma
    }
    return true;
}

} // namespace ccsim::detail
