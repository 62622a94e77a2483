// SPDX-License-Identifier: Apache-2.0
// plat::convert_reg_value over a value buffer of kRegBufferSize bytes and
// a type code: it throws PlatformError when the buffer holds no zero byte,
// else gives the text before the earliest zero (REG_SZ), the first four
// bytes as an unsigned little-endian number in decimal (REG_DWORD), or
// leaves the result alone (any other type).
//
// Input: one byte picking the type code (the known ones, or the next four
// bytes as a raw code), one byte filling the buffer where the input ends,
// then the buffer's bytes.

#include "fuzzcheck.h"

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    static constexpr std::uint32_t known[] = {plat::kRegSz,    plat::kRegExpandSz, plat::kRegBinary,
                                              plat::kRegDword, plat::kRegMultiSz,  0};
    std::uint32_t type = known[data[0] % 6];
    std::size_t pos = 1;
    if (data[0] >= 0x80 && size >= 6) {
        std::memcpy(&type, data + 1, 4);
        pos = 5;
    }
    const std::uint8_t fill = data[pos++];

    // Exactly the buffer's size on the heap, so that a read past its end is
    // an AddressSanitizer report.
    constexpr std::size_t n = plat::kRegBufferSize;
    const auto buffer = std::make_unique<unsigned char[]>(n);
    std::memset(buffer.get(), fill, n);
    std::memcpy(buffer.get(), data + pos, std::min(n, size - pos));

    const std::string before = "result before the call";
    std::string result = before;
    const void* zero = std::memchr(buffer.get(), 0, n);
    try {
        plat::convert_reg_value(buffer.get(), n, type, result);
    } catch (const plat::PlatformError& e) {
        FUZZ_CHECK(zero == nullptr);
        FUZZ_CHECK(std::strlen(e.what()) > 0);
        FUZZ_CHECK(result == before);
        return 0;
    }
    FUZZ_CHECK(zero != nullptr);
    const std::size_t textLen = static_cast<const unsigned char*>(zero) - buffer.get();
    if (type == plat::kRegSz) {
        FUZZ_CHECK(result.size() == textLen);
        FUZZ_CHECK(std::memcmp(result.data(), buffer.get(), textLen) == 0);
    } else if (type == plat::kRegDword) {
        const unsigned long long value =
            buffer[0] + buffer[1] * 0x100ull + buffer[2] * 0x10000ull + buffer[3] * 0x1000000ull;
        FUZZ_CHECK(result == std::to_string(value));
        FUZZ_CHECK(std::stoull(result) <= 0xffffffffull);
    } else {
        FUZZ_CHECK(result == before);
    }
    return 0;
}
