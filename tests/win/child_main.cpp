// SPDX-License-Identifier: Apache-2.0
// Started by the process tests: tsy_child SLEEP_MS EXIT_CODE [RECORD_FILE]
// Writes what GetStartupInfoA and GetCommandLineA report to RECORD_FILE,
// sleeps SLEEP_MS milliseconds, then exits with EXIT_CODE.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tsy_child SLEEP_MS EXIT_CODE [RECORD_FILE]\n");
        return 100;
    }
    const unsigned long sleepMs = std::strtoul(argv[1], nullptr, 10);
    const unsigned long exitCode = std::strtoul(argv[2], nullptr, 10);
    if (argc > 3) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        GetStartupInfoA(&startup);
        std::FILE* record = std::fopen(argv[3], "wb");
        if (!record)
            return 101;
        std::fprintf(record, "flags=%lu\nshow=%u\ncmd=%s\n", startup.dwFlags,
                     static_cast<unsigned>(startup.wShowWindow), GetCommandLineA());
        std::fclose(record);
    }
    Sleep(sleepMs);
    // Any 32-bit code, the NTSTATUS range of a crash included.
    ExitProcess(static_cast<UINT>(exitCode));
}
