// SPDX-License-Identifier: Apache-2.0
#include "platform.h"

#include <cstring>

namespace plat {

void convert_reg_value(const unsigned char* buffer, std::size_t size, std::uint32_t type,
                       std::string& result) {
    const void* zero = std::memchr(buffer, 0, size);
    if (!zero)
        throw PlatformError("Invalid procedure call or argument");
    const std::string text(reinterpret_cast<const char*>(buffer),
                           static_cast<const unsigned char*>(zero) - buffer);
    if (type == kRegSz) {
        result = text;
    } else if (type == kRegDword) {
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < 4 && i < size; ++i)
            n |= std::uint32_t(buffer[i]) << (8 * i);
        result = std::to_string(n);
    }
}

} // namespace plat
