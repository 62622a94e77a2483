// SPDX-License-Identifier: Apache-2.0
// get_key_value against Wine's real registry: scratch keys under
// HKCU\Software\TessalyTest and HKLM\Software\TessalyTest, one per test
// process, removed afterwards.
#include "platform/platform.h"

#include "winsupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr std::uint32_t kHKeyCurrentUser = 0x80000001u;

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path =
            "Software\\TessalyTest\\" +
            wintest::unique_name(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(m_key);
        RegDeleteTreeA(HKEY_CURRENT_USER, m_path.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TessalyTest");
    }

    void set(const std::string& name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(
            RegSetValueExA(m_key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
    }
    void setText(const std::string& name, DWORD type, const std::string& text) {
        set(name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }

    // Reads back through get_key_value, starting from a result that is
    // not empty so that "left as passed" and "emptied" can be told apart.
    bool read(const std::string& name, std::string& result, const std::string& start = "previous") {
        result = start;
        return plat::get_key_value(kHKeyCurrentUser, m_path, name, result);
    }

    std::string m_path;
    HKEY m_key = nullptr;
};

TEST_F(RegistryTest, TextValuesComeBackCharacterForCharacter) {
    const std::string home = "C:\\Program Files\\IBM\\RationalSDLC\\ClearCase\\";
    setText("ProductHome", REG_SZ, home);
    std::string result;
    ASSERT_TRUE(read("ProductHome", result));
    EXPECT_EQ(result, home); // the trailing backslash stays

    setText("Spaced", REG_SZ, "  two  spaces \t");
    ASSERT_TRUE(read("Spaced", result));
    EXPECT_EQ(result, "  two  spaces \t");

    setText("Empty", REG_SZ, "");
    ASSERT_TRUE(read("Empty", result));
    EXPECT_EQ(result, "");
}

TEST_F(RegistryTest, LongestTextThatFitsIsRead) {
    const std::string text(1023, 'a'); // with its zero byte: exactly the buffer
    setText("Long", REG_SZ, text);
    std::string result;
    ASSERT_TRUE(read("Long", result));
    EXPECT_EQ(result, text);
}

TEST_F(RegistryTest, ExpandableTextSucceedsWithResultUntouched) {
    setText("Expand", REG_EXPAND_SZ, "%SystemRoot%\\x");
    std::string result;
    EXPECT_TRUE(read("Expand", result, ""));
    EXPECT_EQ(result, "");
    EXPECT_TRUE(read("Expand", result, "kept"));
    EXPECT_EQ(result, "kept");
}

TEST_F(RegistryTest, NumbersBecomeUnsignedDecimal) {
    std::string result;
    const DWORD small = 266;
    set("Small", REG_DWORD, &small, sizeof small);
    ASSERT_TRUE(read("Small", result));
    EXPECT_EQ(result, "266");

    // All four bytes non-zero: the zero byte that ends the text lies in
    // the rest of the buffer, which must be zero.
    const DWORD wide = 0x01020304;
    set("Wide", REG_DWORD, &wide, sizeof wide);
    ASSERT_TRUE(read("Wide", result));
    EXPECT_EQ(result, "16909060");

    const DWORD top = 0xFFFFFF01u;
    set("Top", REG_DWORD, &top, sizeof top);
    ASSERT_TRUE(read("Top", result));
    EXPECT_EQ(result, "4294967041");
}

TEST_F(RegistryTest, UnreadableValuesGiveFalseAndEmptyResult) {
    std::string result;
    setText("TooLong", REG_SZ, std::string(1024, 'b')); // 1025 bytes with the zero
    EXPECT_FALSE(read("TooLong", result));
    EXPECT_EQ(result, "");

    EXPECT_FALSE(read("NoSuchValue", result));
    EXPECT_EQ(result, "");

    result = "previous";
    EXPECT_FALSE(
        plat::get_key_value(kHKeyCurrentUser, m_path + "\\NoSuchKey", "ProductHome", result));
    EXPECT_EQ(result, "");

    result = "previous";
    EXPECT_FALSE(plat::get_key_value(0x12345678u, "Software", "x", result)); // not a root
    EXPECT_EQ(result, "");
}

TEST_F(RegistryTest, BinaryWithoutZeroByteThrowsAndClosesTheKey) {
    const std::string bytes(1024, '\x5A');
    set("Blob", REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));

    // Handle values are handed out lowest free first: if get_key_value
    // left its key open, the probe key would get a different handle.
    HKEY probe = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);
    const HKEY before = probe;
    RegCloseKey(probe);

    for (int i = 0; i < 3; ++i) {
        std::string result;
        EXPECT_THROW(read("Blob", result), plat::PlatformError);
    }
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);
    EXPECT_EQ(probe, before) << "a key handle was left open";
    RegCloseKey(probe);

    std::string result;
    try {
        read("Blob", result);
        ADD_FAILURE() << "no exception";
    } catch (const plat::PlatformError& e) {
        EXPECT_STRNE(e.what(), "");
    }
}

TEST_F(RegistryTest, BinaryWithZeroByteSucceedsWithResultUntouched) {
    const unsigned char bytes[] = {1, 2, 0, 3};
    set("Blob", REG_BINARY, bytes, sizeof bytes);
    std::string result;
    EXPECT_TRUE(read("Blob", result, "kept"));
    EXPECT_EQ(result, "kept");
}

// HKLM through the numeric root the program uses (0x80000002).
TEST(RegistryMachineTest, ReadsProductHomeUnderLocalMachine) {
    const std::string path = "Software\\TessalyTest\\" + wintest::unique_name("machine");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string home = "D:\\Rational\\ClearCase\\";
    RegSetValueExA(key, "ProductHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(home.c_str()),
                   static_cast<DWORD>(home.size() + 1));
    RegCloseKey(key);

    std::string result;
    const bool ok = plat::get_key_value(plat::kHKeyLocalMachine, path, "ProductHome", result);
    std::string missing = "previous";
    const bool missingOk =
        plat::get_key_value(plat::kHKeyLocalMachine, path + "\\Nope", "ProductHome", missing);

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\TessalyTest");

    EXPECT_TRUE(ok);
    EXPECT_EQ(result, home);
    EXPECT_FALSE(missingOk);
    EXPECT_EQ(missing, "");
}

// The installation directory is ProductHome under the ClearCase key; the
// test prefix has no ClearCase, so the key is made here and removed.
TEST(RegistryMachineTest, InstallationDirectoryIsTheClearCaseProductHome) {
    HKEY probe = nullptr;
    ASSERT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Atria", 0, KEY_READ, &probe),
              ERROR_SUCCESS)
        << "the test prefix has a ClearCase key of its own";
    EXPECT_EQ(plat::clearcase_home(), std::nullopt);

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, plat::kClearCaseKey, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::optional<std::string> noValue = plat::clearcase_home();
    const std::string home = "C:\\Program Files\\IBM\\RationalSDLC\\ClearCase\\";
    RegSetValueExA(key, "ProductHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(home.c_str()),
                   static_cast<DWORD>(home.size() + 1));
    RegCloseKey(key);
    const std::optional<std::string> found = plat::clearcase_home();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Atria");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Atria");

    EXPECT_EQ(noValue, std::nullopt);
    EXPECT_EQ(found, home); // the trailing backslash stays
}

} // namespace
