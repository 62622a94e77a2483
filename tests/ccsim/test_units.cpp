// SPDX-License-Identifier: Apache-2.0
// The file formats' building blocks: escaping, file-name encoding, -chmod
// parsing and the registry parser's handling of damaged files.
#include "internal.h"

#include <gtest/gtest.h>

using namespace ccsim;
using namespace ccsim::detail;

TEST(Escaping, EveryByteRoundTripsAndLinesStayIntact) {
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    const std::string esc = escapeField(all);
    EXPECT_EQ(esc.find('\n'), std::string::npos);
    EXPECT_EQ(esc.find('\t'), std::string::npos);
    EXPECT_EQ(esc.find('\r'), std::string::npos);
    EXPECT_EQ(esc.find('\0'), std::string::npos);
    std::string back;
    ASSERT_TRUE(unescapeField(esc, back));
    EXPECT_EQ(back, all);
    // Printable odd characters are kept as they are, so files stay readable.
    EXPECT_EQ(escapeField("a b\"'$;`ü"), "a b\"'$;`ü");
    EXPECT_EQ(escapeField("a\\b\tc"), "a\\\\b\\tc");
}

TEST(Escaping, MalformedEscapesAreRejected) {
    std::string out;
    for (const char* bad : {"abc\\", "\\q", "\\x", "\\x4", "\\xzz", "x\\x0g"})
        EXPECT_FALSE(unescapeField(bad, out)) << bad;
    EXPECT_TRUE(unescapeField("\\x41\\\\", out));
    EXPECT_EQ(out, "A\\");
}

TEST(FileNames, OnlyUnstorableCharactersAreEncoded) {
    EXPECT_EQ(encodeFileName("it's a \"view\" $x;`y` ü", ".vws"), "it's a \"view\" $x;`y` ü.vws");
    EXPECT_EQ(encodeFileName("a/b\tc\x7f", ".vws"), "a%2Fb%09c%7F.vws");
    EXPECT_EQ(encodeFileName(".", ""), "%2E");
    EXPECT_EQ(encodeFileName("..", ""), "%2E%2E");
    EXPECT_EQ(encodeFileName("..", ".vws"), "...vws");
}

TEST(FileNames, LongNamesAreCutToFitAndStayDistinct) {
    const std::string a = std::string(300, 'x') + "a";
    const std::string b = std::string(300, 'x') + "b";
    const std::string ea = encodeFileName(a, ".vws");
    EXPECT_LE(ea.size(), 255u);
    EXPECT_NE(ea, encodeFileName(b, ".vws"));
    EXPECT_EQ(ea.substr(ea.size() - 4), ".vws");
    // A cut never splits a UTF-8 sequence.
    std::string u = "a"; // puts the first byte of each character at an odd offset
    for (int i = 0; i < 150; ++i)
        u += "ü";
    const std::string eu = encodeFileName(u, ".vws");
    EXPECT_LE(eu.size(), 255u);
    EXPECT_EQ(eu.find('~') % 2, 1u) << "cut inside a two-byte character";
}

TEST(Chmod, OctalAndSymbolicModes) {
    ChmodSpec s;
    ASSERT_TRUE(parseChmod("0750", s));
    EXPECT_EQ(s.apply(0600, false), 0750u);
    ASSERT_TRUE(parseChmod("go-w", s));
    EXPECT_EQ(s.apply(0666, false), 0644u);
    ASSERT_TRUE(parseChmod("u+rwx,g+rx", s));
    EXPECT_EQ(s.apply(0600, true), 0750u);
    ASSERT_TRUE(parseChmod("a=rX", s));
    EXPECT_EQ(s.apply(0700, true), 0555u);
    EXPECT_EQ(s.apply(0600, false), 0444u);
    ASSERT_TRUE(parseChmod("+x", s));
    EXPECT_EQ(s.apply(0644, false), 0755u);
    for (const char* bad : {"", "99", "12345", "u", "u+q", "z+r", "u+r,", "rwx"})
        EXPECT_FALSE(parseChmod(bad, s)) << bad;
}

TEST(FixedModes, DirectoriesFilesAndIdentity) {
    EXPECT_TRUE(isFixedMode("db", true, 0775));
    EXPECT_FALSE(isFixedMode("db", true, 0700));
    EXPECT_FALSE(isFixedMode("", true, 0777));
    EXPECT_TRUE(isFixedMode(".pid", false, 0664));
    EXPECT_TRUE(isFixedMode("x", false, 0775));
    EXPECT_FALSE(isFixedMode(".pid", false, 0666));
    EXPECT_FALSE(isFixedMode("x", false, 0600));
    EXPECT_FALSE(isFixedMode("x", false, 04775)) << "setuid bits are not fixed";
    EXPECT_TRUE(isFixedMode(".identity/uid", false, 04400));
    EXPECT_FALSE(isFixedMode(".identity/uid", false, 0664)) << "the identity keeps its bits";
    EXPECT_TRUE(isFixedMode(".identity/gid", false, 02410));
}

TEST(RegistryParser, DamagedFilesGiveALineNumber) {
    const std::string header(kRegistryHeader);
    const std::string good = "a--\tt\th\tr\to\tu\t/s\tcs\n";
    EXPECT_EQ(parseRegistry(header + good, "reg").records.size(), 1u);
    const auto message = [&](const std::string& body) -> std::string {
        try {
            parseRegistry(header + body, "reg");
        } catch (const Error& e) {
            return e.what();
        }
        return "accepted";
    };
    EXPECT_NE(message(good + "a--\tonly\tthree\n").find("line 3"), std::string::npos);
    EXPECT_NE(message("x--\tt\th\tr\to\tu\t/s\tcs\n").find("bad flags"), std::string::npos);
    EXPECT_NE(message("a--\tt\\q\th\tr\to\tu\t/s\tcs\n").find("bad escape"), std::string::npos);
    EXPECT_NE(message("a--\t\th\tr\to\tu\t/s\tcs\n").find("empty view tag"), std::string::npos);
    EXPECT_NE(message(std::string("\xff\x00garbage", 9)).find("line 2"), std::string::npos);
    try {
        parseRegistry("no header\n", "reg");
        ADD_FAILURE() << "accepted a file without header";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("does not start"), std::string::npos);
    }
}

TEST(RegistryParser, UnescapesFieldsAndFindsTheActiveFlag) {
    View v;
    v.tag = "tab\there";
    v.host = "h";
    v.configSpec = "element * CHECKEDOUT\n";
    v.storage = "/s";
    v.active = true;
    const std::string data = std::string(kRegistryHeader) + registryLine(v);
    const Registry reg = parseRegistry(data, "reg");
    ASSERT_EQ(reg.records.size(), 1u);
    EXPECT_EQ(reg.records[0].tag, "tab\there");
    EXPECT_EQ(reg.configSpec(reg.records[0]), "element * CHECKEDOUT\n");
    EXPECT_EQ(data[reg.records[0].flagOffset], 'a');
}

TEST(RegistryParser, OldLinesWithoutGroupAndNewOnesWithIt) {
    View v;
    v.tag = "new";
    v.host = "h";
    v.owner = "o";
    v.group = "g\tx";
    v.storage = "/s";
    const std::string data =
        std::string(kRegistryHeader) + "a--\told\th\tr\to\tu\t/s\tcs\n" + registryLine(v);
    const Registry reg = parseRegistry(data, "reg");
    ASSERT_EQ(reg.records.size(), 2u);
    EXPECT_EQ(reg.records[0].group, "ccusers");
    EXPECT_EQ(reg.records[0].storage, "/s");
    EXPECT_EQ(reg.configSpec(reg.records[0]), "cs");
    const View back = toView(reg, reg.records[1]);
    EXPECT_EQ(back.group, "g\tx");
    EXPECT_EQ(back.owner, "o");
    EXPECT_EQ(back.storage, "/s");
}
