// SPDX-License-Identifier: Apache-2.0
// POSIX forms of the installation's whereabouts and the file search:
// ClearCase's UNIX environment variables name the installation, and the
// search is glob(3).
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <glob.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace plat {

namespace {
constexpr const char* kDefaultHome = "/opt/rational/clearcase";

bool hidden_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    return base[0] == '.';
}
} // namespace

std::optional<std::string> clearcase_home() {
    // The newer name first; ATRIAHOME is what older releases set.
    for (const char* name : {"CLEARCASEHOME", "ATRIAHOME"}) {
        const char* v = std::getenv(name);
        if (v && *v)
            return std::string(v);
    }
    return std::string(kDefaultHome);
}

FileSearch file_exists(const std::string& path, bool directories) {
    glob_t g{};
    const int rc = ::glob(path.c_str(), GLOB_NOSORT, nullptr, &g);
    if (rc == GLOB_NOMATCH) {
        ::globfree(&g);
        return {};
    }
    if (rc != 0) {
        ::globfree(&g);
        return FileSearch::failure(path, rc == GLOB_NOSPACE ? "Out of memory" : "Read error");
    }
    FileSearch search;
    for (std::size_t i = 0; i < g.gl_pathc && !search.found; ++i) {
        const char* p = g.gl_pathv[i];
        if (hidden_name(p))
            continue;
        struct stat st {};
        if (::stat(p, &st) != 0)
            continue;
        search.found = S_ISREG(st.st_mode) || (directories && S_ISDIR(st.st_mode));
    }
    ::globfree(&g);
    return search;
}

const char* cleartool_marker() {
    return "/bin/cleartool";
}
const char* fix_prot_suffix() {
    return "/etc/utils/fix_prot";
}

FileSearch holds_cleartool(const std::string& home) {
    // A fixed name, not a pattern: the home may hold any character.
    const std::string marker = home + cleartool_marker();
    struct stat st {};
    if (::stat(marker.c_str(), &st) == 0) {
        FileSearch search;
        search.found = S_ISREG(st.st_mode);
        return search;
    }
    // Absent is "not installed"; anything else (a directory that may not be
    // searched, a loop of links) means the check could not tell.
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR)
        return {};
    return FileSearch::failure(marker, std::generic_category().message(error));
}

bool running_as_root() {
    return ::geteuid() == 0;
}

} // namespace plat
