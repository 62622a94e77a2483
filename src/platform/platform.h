// SPDX-License-Identifier: Apache-2.0
#pragma once

// The operating-system layer, free of Qt so that the Windows half can be
// cross-compiled and tested on its own. Texts are 8-bit strings: the ANSI
// code page on Windows, UTF-8 on POSIX. Each operation has one file per
// OS (*_posix.cpp, *_win.cpp); CMake picks the file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace plat {

// Raised by the registry's type conversion below; what() is the
// description.
class PlatformError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a search for a file found. A search that fails for another reason
// than the file being absent (a name the system refuses, a directory that
// may not be searched) says so, with what was searched for and the
// system's description of the error.
struct [[nodiscard]] FileSearch {
    bool found = false;
    bool failed = false;
    std::string path;        // failed: what was searched for
    std::string description; // failed: the system's description

    static FileSearch failure(std::string path, std::string description) {
        return {false, true, std::move(path), std::move(description)};
    }
};

// What the operator is told of a failed search.
inline std::string file_search_message(const FileSearch& s) {
    return "Error determining file exist --> " + s.path + "::" + s.description;
}

// ---- Installation ---------------------------------------------------------

// Where ClearCase is installed, as this system records it, exactly as
// recorded (a trailing separator kept, nothing trimmed). On Windows the
// ProductHome value of the key kClearCaseKey under HKEY_LOCAL_MACHINE, no
// value when there is none; throws what convert_reg_value throws. On
// POSIX $CLEARCASEHOME, else $ATRIAHOME (a variable set to nothing counts
// as unset), else /opt/rational/clearcase: always a value. Whether the
// directory holds cleartool is holds_cleartool's question.
std::optional<std::string> clearcase_home();

// ---- Registry -------------------------------------------------------------

// The conversion of a value read is plain code, built on every system so
// that it is tested and fuzzed everywhere; the registry itself is read on
// Windows only.

constexpr std::size_t kRegBufferSize = 1024;

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

// Converts a value read into a buffer of kRegBufferSize bytes by its type
// code: the text is cut at its earliest zero byte (a buffer without one
// throws PlatformError); type 1 gives that text, type 4 the 32-bit number
// in its first four bytes (least significant first) as unsigned decimal,
// any other type leaves result as it was.
void convert_reg_value(const unsigned char* buffer, std::size_t size, std::uint32_t type,
                       std::string& result);

#ifdef _WIN32
constexpr std::uint32_t kHKeyLocalMachine = 0x80000002u;
// Where ClearCase keeps its installation directory, under HKLM.
constexpr const char* kClearCaseKey = "SOFTWARE\\Atria\\ClearCase\\CurrentVersion";
constexpr const char* kProductHomeValue = "ProductHome";
constexpr std::uint32_t kKeyAccessMask = 0x2003Fu;

// Reads one value as text. False, with result emptied, when the key cannot
// be opened or the value cannot be read. Throws what convert_reg_value
// throws. Every key opened is closed.
bool get_key_value(std::uint32_t root, const std::string& keyPath, const std::string& valueName,
                   std::string& result);
#endif

// ---- Files ----------------------------------------------------------------

// Whether an ordinary file matches path, used as a search pattern. Hidden
// and system files never count; directories count only when directories
// is true. Never throws: a search that fails says so.
FileSearch file_exists(const std::string& path, bool directories);

// Whether the installation directory home holds cleartool: on Windows the
// search of file_exists on home + cleartool_marker(); on POSIX that exact
// name, a regular file (links followed), whatever characters home holds.
// Never throws: a search that fails for another reason than a missing
// file says so.
FileSearch holds_cleartool(const std::string& home);

// The separator-led suffixes appended to the installation directory.
const char* cleartool_marker(); // "\bin\cleartool.exe" or "/bin/cleartool"
const char* fix_prot_suffix();  // "\etc\utils\fix_prot.exe" or "/etc/utils/fix_prot"

// ---- Accounts -------------------------------------------------------------

// Whether this process runs with the superuser's rights (effective uid 0).
bool running_as_root();

// ---- Shell ----------------------------------------------------------------

// Asks the desktop to open a web address; the result is not examined.
void shell_open(const std::string& address);

} // namespace plat
