// SPDX-License-Identifier: Apache-2.0
#pragma once

// Helpers shared by the Windows layer tests.

#include <windows.h>

#include <string>

namespace wintest {

// The directory of the running test program, with a trailing backslash.
std::string exe_dir();

// A fresh, empty directory under the temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag);
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir();
    const std::string& path() const { return m_path; } // with a trailing backslash

    // Creates a file (with some content) and gives its full path.
    std::string file(const std::string& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const;
    std::string dir(const std::string& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const;

private:
    std::string m_path;
};

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

// A name unique to this process, for keys and files of parallel tests.
std::string unique_name(const std::string& tag);

} // namespace wintest
