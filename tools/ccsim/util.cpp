// SPDX-License-Identifier: Apache-2.0
// Text helpers and small POSIX file utilities.
#include "internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ccsim::detail {

namespace {
const char kHex[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::string escapeField(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 8);
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

bool unescapeField(std::string_view s, std::string& out) {
    out.clear();
    if (s.find('\\') == std::string_view::npos) {
        out.assign(s);
        return true;
    }
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i >= s.size())
            return false;
        switch (s[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 'x': {
            if (i + 2 >= s.size())
                return false;
            const int hi = hexValue(s[i + 1]);
            const int lo = hexValue(s[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::vector<std::string_view> splitTabs(std::string_view line) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            parts.push_back(line.substr(start));
            return parts;
        }
        parts.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

bool parseUint(std::string_view s, std::uint64_t& out) {
    if (s.empty() || s.size() > 18)
        return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    out = v;
    return true;
}

std::size_t displayWidth(std::string_view s) {
    std::size_t n = 0;
    for (char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    return n;
}

std::uint64_t fnv1a(std::string_view s) {
    std::uint64_t h = 1469598103934665603ULL;
    for (char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

std::string toCrlf(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 16);
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string printable(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

std::string expandText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string errnoText(int err) {
    return std::strerror(err);
}

bool readFileIfExists(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return false;
        throw Error("cannot open " + printable(path) + ": " + errnoText(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw Error(printable(path) + " is a directory, not a file");
    }
    // Read straight into a buffer of the file's size; loop in case it grows.
    out.clear();
    std::size_t used = 0;
    out.resize(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096);
    while (true) {
        if (used == out.size())
            out.resize(out.size() * 2);
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            throw Error("cannot read " + printable(path) + ": " + errnoText(err));
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    out.resize(used);
    ::close(fd);
    return true;
}

std::string readFile(const std::string& path) {
    std::string out;
    if (!readFileIfExists(path, out))
        throw Error("cannot open " + printable(path) + ": No such file or directory");
    return out;
}

void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error("write failed: " + errnoText(errno));
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void writeFileAtomic(const std::string& path, std::string_view data) {
    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error("cannot create " + printable(tmp) + ": " + errnoText(errno));
    try {
        writeAll(fd, data);
    } catch (const Error& e) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw Error("cannot write " + printable(path) + ": " + e.what());
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw Error("cannot replace " + printable(path) + ": " + errnoText(err));
    }
}

void makeDirs(const std::string& path, mode_t mode) {
    if (path.empty())
        return;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            throw Error("cannot create directory " + printable(part) + ": " + errnoText(errno));
    }
    if (!isDir(path))
        throw Error(printable(path) + " exists but is not a directory");
}

bool isDir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string dirName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        throw Error("cannot resolve " + printable(path) + ": " + errnoText(errno));
    return buf;
}

std::string selfExe() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        throw Error("cannot read /proc/self/exe: " + errnoText(errno));
    return std::string(buf, static_cast<std::size_t>(n));
}

bool listDirectory(const std::string& dir, std::vector<std::string>& names) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return false;
    while (dirent* e = ::readdir(d)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..")
            names.emplace_back(n);
    }
    ::closedir(d);
    return true;
}

void removeTree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.c_str(), 0700);
        std::vector<std::string> names;
        if (listDirectory(path, names))
            for (const auto& n : names)
                removeTree(path + "/" + n);
        if (::rmdir(path.c_str()) != 0)
            throw Error("cannot remove " + printable(path) + ": " + errnoText(errno));
    } else if (::unlink(path.c_str()) != 0) {
        throw Error("cannot remove " + printable(path) + ": " + errnoText(errno));
    }
}

void writeNew(const std::string& path, std::string_view data, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw Error("cannot create " + printable(path) + ": " + errnoText(errno));
    try {
        writeAll(fd, data);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::fchmod(fd, mode);
    ::close(fd);
}

void copyExecutable(const std::string& from, const std::string& to) {
    const std::string tmp = to + ".tmp";
    writeNew(tmp, readFile(from), 0755);
    if (::rename(tmp.c_str(), to.c_str()) != 0)
        throw Error("cannot install " + printable(to) + ": " + errnoText(errno));
}

std::int64_t nowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(std::uint64_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

FileLock::FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw Error("cannot open lock file " + printable(path) + ": " + errnoText(errno));
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int err = errno;
            ::close(fd_);
            throw Error("cannot lock " + printable(path) + ": " + errnoText(err));
        }
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing releases the flock
}

std::string findHome(int levels) {
    const std::string exe = selfExe();
    std::string home = dirName(exe);
    for (int i = 0; i < levels; ++i)
        home = dirName(home);
    Paths p{home};
    if (!exists(p.registry()))
        throw Error("not inside a ccsim home: " + printable(exe) +
                    " has no var/ccsim/registry beside it; create a home with `ccsim init`");
    return home;
}

bool strictMode(const Paths& paths) {
    return exists(paths.strict());
}

std::string systemHostName(bool shortName) {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0])
        return "localhost";
    std::string name = buf;
    if (shortName)
        name = name.substr(0, name.find('.'));
    return name;
}

std::string localHost(const Paths& paths) {
    std::string name;
    if (readFileIfExists(paths.localHost(), name)) {
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
        if (!name.empty())
            return name;
    }
    return systemHostName(true);
}

std::string currentHost(const Paths& paths) {
    const char* h = std::getenv(kHostEnv);
    return h && *h ? std::string(h) : localHost(paths);
}

std::string globalPath(const Paths& paths, std::string_view storage, bool strict) {
    const std::string root = paths.storage() + "/";
    if (!strict || storage.substr(0, root.size()) != root)
        return std::string(storage);
    return paths.net() + "/" + std::string(storage.substr(root.size()));
}

void ensureNetLink(const Paths& paths, const std::string& hostDirName) {
    const std::string link = paths.net() + "/" + hostDirName;
    if (exists(link))
        return;
    if (!isDir(paths.net()))
        makeDirs(paths.net());
    if (::symlink(("../storage/" + hostDirName).c_str(), link.c_str()) != 0 && errno != EEXIST)
        throw Error("cannot create " + printable(link) + ": " + errnoText(errno));
}

} // namespace ccsim::detail
