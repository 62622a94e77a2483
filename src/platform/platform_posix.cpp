// POSIX forms of the Windows registry and directory search: the one
// registry value the program reads comes from ClearCase's UNIX environment
// variables, and the directory search is glob(3).
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {
constexpr const char* kClearCaseKey = "SOFTWARE\\Atria\\ClearCase\\CurrentVersion";
constexpr const char* kDefaultHome = "/opt/rational/clearcase";

std::string product_home() {
    for (const char* name : {"CLEARCASEHOME", "ATRIAHOME"}) {
        const char* v = std::getenv(name);
        if (v && *v)
            return v;
    }
    return kDefaultHome;
}

bool hidden_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    return base[0] == '.';
}
} // namespace

bool get_key_value(std::uint32_t root, const std::string& keyPath, const std::string& valueName,
                   std::string& result) {
    if (root != kHKeyLocalMachine || keyPath != kClearCaseKey || valueName != "ProductHome") {
        result.clear();
        return false;
    }
    const std::string home = product_home();
    // The value as the registry would hand it over: a zero-terminated
    // string in a buffer of fixed size. Longer data do not fit and fail.
    unsigned char buffer[kRegBufferSize] = {};
    if (home.size() + 1 > kRegBufferSize) {
        result.clear();
        return false;
    }
    std::memcpy(buffer, home.data(), home.size());
    convert_reg_value(buffer, kRegBufferSize, kRegSz, result);
    return true;
}

bool file_exists(const std::string& path, bool directories) {
    glob_t g{};
    const int rc = ::glob(path.c_str(), GLOB_NOSORT, nullptr, &g);
    if (rc == GLOB_NOMATCH) {
        ::globfree(&g);
        return false;
    }
    if (rc != 0) {
        ::globfree(&g);
        throw PlatformError(rc == GLOB_NOSPACE ? "Out of memory" : "Read error");
    }
    bool found = false;
    for (std::size_t i = 0; i < g.gl_pathc && !found; ++i) {
        const char* p = g.gl_pathv[i];
        if (hidden_name(p))
            continue;
        struct stat st {};
        if (::stat(p, &st) != 0)
            continue;
        found = S_ISREG(st.st_mode) || (directories && S_ISDIR(st.st_mode));
    }
    ::globfree(&g);
    return found;
}

const char* cleartool_marker() {
    return "/bin/cleartool";
}
const char* fix_prot_suffix() {
    return "/etc/utils/fix_prot";
}

bool running_as_root() {
    return ::geteuid() == 0;
}

} // namespace plat
