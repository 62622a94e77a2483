// SPDX-License-Identifier: Apache-2.0
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <array>

TEST(RegistryConversion, ConvertsByTypeCode) {
    std::array<unsigned char, plat::kRegBufferSize> buf{};
    std::string r = "kept";
    buf[0] = 266 & 0xff;
    buf[1] = 266 >> 8;
    plat::convert_reg_value(buf.data(), buf.size(), plat::kRegDword, r);
    EXPECT_EQ(r, "266");
    buf = {0xff, 0xff, 0xff, 0xff};
    plat::convert_reg_value(buf.data(), buf.size(), plat::kRegDword, r);
    EXPECT_EQ(r, "4294967295");

    buf = {};
    const char text[] = "C:\\Program Files\\ClearCase\\";
    std::copy(std::begin(text), std::end(text), buf.begin());
    plat::convert_reg_value(buf.data(), buf.size(), plat::kRegSz, r);
    EXPECT_EQ(r, "C:\\Program Files\\ClearCase\\");

    r = "as passed";
    plat::convert_reg_value(buf.data(), buf.size(), plat::kRegExpandSz, r);
    EXPECT_EQ(r, "as passed");
    plat::convert_reg_value(buf.data(), buf.size(), plat::kRegBinary, r);
    EXPECT_EQ(r, "as passed");

    buf.fill('x');
    EXPECT_THROW(plat::convert_reg_value(buf.data(), buf.size(), plat::kRegSz, r),
                 plat::PlatformError);
    EXPECT_THROW(plat::convert_reg_value(buf.data(), buf.size(), plat::kRegBinary, r),
                 plat::PlatformError);
}
