// SPDX-License-Identifier: Apache-2.0
// Started by the argument tests: writes the argv the C runtime built from
// its command line, argv[0] included, to the file named by TSY_ARGV_OUT,
// one word a line as "<length>:<bytes>", so that blanks, quotes and empty
// words stay visible.
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* out = std::getenv("TSY_ARGV_OUT");
    if (!out || !*out) {
        std::fprintf(stderr, "tsy_argv: TSY_ARGV_OUT is not set\n");
        return 100;
    }
    std::FILE* f = std::fopen(out, "wb");
    if (!f)
        return 101;
    for (int i = 0; i < argc; ++i)
        std::fprintf(f, "%lu:%s\n", static_cast<unsigned long>(std::strlen(argv[i])), argv[i]);
    return std::fclose(f) == 0 ? 0 : 102;
}
