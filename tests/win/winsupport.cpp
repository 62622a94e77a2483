// SPDX-License-Identifier: Apache-2.0
#include "winsupport.h"

#include <cstdio>

namespace wintest {

std::string exe_dir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

std::string unique_name(const std::string& tag) {
    return tag + "_" + std::to_string(GetCurrentProcessId());
}

namespace {
void remove_tree(const std::string& dir) {
    WIN32_FIND_DATAA found{};
    const HANDLE find = FindFirstFileA((dir + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string full = dir + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(full + "\\");
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}
} // namespace

ScratchDir::ScratchDir(const std::string& tag) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    m_path = std::string(temp) + unique_name("tsy_" + tag) + "\\";
    remove_tree(m_path);
    CreateDirectoryA(m_path.c_str(), nullptr);
}

ScratchDir::~ScratchDir() {
    remove_tree(m_path);
}

std::string ScratchDir::file(const std::string& name, DWORD attributes) const {
    const std::string full = m_path + name;
    const HANDLE h = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, "x", 1, &written, nullptr);
        CloseHandle(h);
    }
    SetFileAttributesA(full.c_str(), attributes);
    return full;
}

std::string ScratchDir::dir(const std::string& name, DWORD attributes) const {
    const std::string full = m_path + name;
    CreateDirectoryA(full.c_str(), nullptr);
    if (attributes != FILE_ATTRIBUTE_NORMAL)
        SetFileAttributesA(full.c_str(), attributes | FILE_ATTRIBUTE_DIRECTORY);
    return full;
}

std::string read_file(const std::string& path) {
    std::string content;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return content;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        content.append(buffer, n);
    std::fclose(f);
    return content;
}

} // namespace wintest
