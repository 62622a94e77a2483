// SPDX-License-Identifier: Apache-2.0
// Windows forms of the installation's whereabouts (the registry), the
// directory search and the shell call, on the ANSI entry points so that texts stay in the ANSI code
// page.
#include "platform.h"
#include "syserror_win.h"

#include <windows.h>

#include <shellapi.h>

namespace plat {

std::string system_text(unsigned long code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (n != 0 && text)
        message.assign(text, n);
    if (text)
        LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

std::string system_message(unsigned long code) {
    std::string message = system_text(code);
    if (message.empty())
        message = "System error " + std::to_string(code);
    return message;
}

namespace {

// The predefined root keys are 32-bit values that the system sign-extends
// to pointer width: HKEY_LOCAL_MACHINE is (HKEY)(ULONG_PTR)(LONG)0x80000002.
HKEY root_key(std::uint32_t root) {
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
}

class KeyHandle {
public:
    explicit KeyHandle(HKEY key) : m_key(key) {}
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() { RegCloseKey(m_key); }
    HKEY get() const { return m_key; }

private:
    HKEY m_key;
};

class FindHandle {
public:
    explicit FindHandle(HANDLE find) : m_find(find) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() { FindClose(m_find); }
    HANDLE get() const { return m_find; }

private:
    HANDLE m_find;
};

bool counts(const WIN32_FIND_DATAA& found, bool directories) {
    const DWORD attributes = found.dwFileAttributes;
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        const std::string name = found.cFileName;
        return directories && name != "." && name != "..";
    }
    return true;
}

bool not_found(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_NO_MORE_FILES;
}

} // namespace

bool get_key_value(std::uint32_t root, const std::string& keyPath, const std::string& valueName,
                   std::string& result) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root_key(root), keyPath.c_str(), 0, kKeyAccessMask, &opened) !=
        ERROR_SUCCESS) {
        result.clear();
        return false;
    }
    // Closes the key on every way out, the exception of convert_reg_value
    // included.
    const KeyHandle key(opened);
    unsigned char buffer[kRegBufferSize] = {};
    DWORD type = 0;
    DWORD size = kRegBufferSize;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, buffer, &size) !=
        ERROR_SUCCESS) {
        result.clear();
        return false;
    }
    convert_reg_value(buffer, kRegBufferSize, type, result);
    return true;
}

std::optional<std::string> clearcase_home() {
    std::string home;
    if (!get_key_value(kHKeyLocalMachine, kClearCaseKey, kProductHomeValue, home))
        return std::nullopt;
    return home;
}

FileSearch file_exists(const std::string& path, bool directories) {
    WIN32_FIND_DATAA found{};
    const HANDLE first = FindFirstFileA(path.c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (not_found(error))
            return {};
        return FileSearch::failure(path, system_message(error));
    }
    const FindHandle find(first);
    for (;;) {
        if (counts(found, directories)) {
            FileSearch search;
            search.found = true;
            return search;
        }
        if (!FindNextFileA(find.get(), &found)) {
            const DWORD error = GetLastError();
            if (not_found(error))
                return {};
            return FileSearch::failure(path, system_message(error));
        }
    }
}

const char* cleartool_marker() {
    return "\\bin\\cleartool.exe";
}
const char* fix_prot_suffix() {
    return "\\etc\\utils\\fix_prot.exe";
}

FileSearch holds_cleartool(const std::string& home) {
    return file_exists(home + cleartool_marker(), false);
}

bool running_as_root() {
    // Windows has no one superuser; fix_prot is not run through a prefix.
    return false;
}

void shell_open(const std::string& address) {
    ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace plat
