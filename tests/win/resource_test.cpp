// SPDX-License-Identifier: Apache-2.0
// The program's icon resource (src/app/tessaly.rc, linked into this test
// program) is a valid icon group the system can load.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(IconResourceTest, IconGroupLoadsInTheUsualSizes) {
    const HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)), nullptr)
        << "no RT_GROUP_ICON 1";
    for (int size : {16, 32, 48}) {
        const HANDLE icon = LoadImageA(self, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, 0);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
        BITMAP bitmap{};
        GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(static_cast<HICON>(icon));
    }
}

} // namespace
