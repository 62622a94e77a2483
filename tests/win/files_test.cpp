// SPDX-License-Identifier: Apache-2.0
// file_exists on Wine's file system, in a scratch directory of the
// temporary directory.
#include "platform/platform.h"

#include "winsupport.h"

#include <gtest/gtest.h>

namespace {

// What the search found. A search that failed fails the test: only the
// tests of failed searches below expect one.
bool exists(const std::string& path, bool directories) {
    const plat::FileSearch search = plat::file_exists(path, directories);
    EXPECT_FALSE(search.failed) << path << ": " << search.description;
    return search.found;
}

TEST(FileExistsTest, OrdinaryFilesCountWhateverTheirOtherAttributes) {
    wintest::ScratchDir dir("plain");
    EXPECT_TRUE(exists(dir.file("plain.exe"), false));
    EXPECT_TRUE(exists(dir.file("ro.exe", FILE_ATTRIBUTE_READONLY), false));
    EXPECT_TRUE(exists(dir.file("arch.exe", FILE_ATTRIBUTE_ARCHIVE), false));
    EXPECT_TRUE(
        exists(dir.file("both.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), true));
}

TEST(FileExistsTest, HiddenAndSystemFilesNeverCount) {
    wintest::ScratchDir dir("hidden");
    const std::string hidden = dir.file("hidden.exe", FILE_ATTRIBUTE_HIDDEN);
    const std::string system = dir.file("system.exe", FILE_ATTRIBUTE_SYSTEM);
    // The attributes must really be there for the test to mean anything.
    ASSERT_TRUE(GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(GetFileAttributesA(system.c_str()) & FILE_ATTRIBUTE_SYSTEM);
    for (bool directories : {false, true}) {
        EXPECT_FALSE(exists(hidden, directories));
        EXPECT_FALSE(exists(system, directories));
    }
}

TEST(FileExistsTest, DirectoriesCountOnlyWhenAsked) {
    wintest::ScratchDir dir("dirs");
    const std::string sub = dir.dir("bin");
    EXPECT_FALSE(exists(sub, false));
    EXPECT_TRUE(exists(sub, true));

    const std::string hiddenSub = dir.dir("secret", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(GetFileAttributesA(hiddenSub.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(exists(hiddenSub, true));
}

TEST(FileExistsTest, PatternsSearchTheWholeDirectory) {
    wintest::ScratchDir dir("pattern");
    // Only "." and ".." match in an empty directory: they never count.
    EXPECT_FALSE(exists(dir.path() + "*", true));

    dir.file("a.hid", FILE_ATTRIBUTE_HIDDEN);
    dir.dir("sub");
    EXPECT_FALSE(exists(dir.path() + "*", false)); // nothing but a hidden file and a dir
    EXPECT_TRUE(exists(dir.path() + "*", true));   // the directory counts now
    EXPECT_FALSE(exists(dir.path() + "*.txt", true));

    dir.file("z.txt");
    EXPECT_TRUE(exists(dir.path() + "*.txt", false));
    EXPECT_TRUE(exists(dir.path() + "?.txt", false));
    EXPECT_FALSE(exists(dir.path() + "??.txt", false));
}

TEST(FileExistsTest, MissingFilesAndDirectoriesGiveFalse) {
    wintest::ScratchDir dir("missing");
    EXPECT_FALSE(exists(dir.path() + "nothing.exe", false));
    EXPECT_FALSE(exists(dir.path() + "nodir\\bin\\cleartool.exe", false));
    EXPECT_FALSE(exists(dir.path() + "nodir\\*", true));
    EXPECT_FALSE(exists("", false));
}

TEST(FileExistsTest, OtherSearchErrorsGiveTheSystemText) {
    // A wildcard in a directory part is not a valid name.
    const plat::FileSearch search = plat::file_exists("C:\\windows\\*\\x.exe", false);
    EXPECT_FALSE(search.found);
    ASSERT_TRUE(search.failed) << "no failure";
    const std::string text = search.description;
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n'); // no line break left from FormatMessage
    char expected[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_INVALID_NAME, 0, expected, sizeof expected, nullptr);
    EXPECT_EQ(text + "\r\n", expected);
}

TEST(FileExistsTest, AFailedSearchForCleartoolNamesWhatWasSearchedFor) {
    // The installation check reaches file_exists through holds_cleartool;
    // a home with a wildcard in it makes the search itself fail.
    const std::string home = "C:\\windows\\*";
    const plat::FileSearch search = plat::holds_cleartool(home);
    ASSERT_TRUE(search.failed) << "no failure";
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_INVALID_NAME, 0, text, sizeof text, nullptr);
    std::string description = text;
    description.erase(description.find_last_not_of("\r\n ") + 1);
    EXPECT_EQ(search.path, "C:\\windows\\*\\bin\\cleartool.exe");
    EXPECT_EQ(plat::file_search_message(search),
              "Error determining file exist --> C:\\windows\\*\\bin\\cleartool.exe::" +
                  description);
}

} // namespace
