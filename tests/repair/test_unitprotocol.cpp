// SPDX-License-Identifier: Apache-2.0
#include "platform/shellquote.h"
#include "process/commandline.h"
#include "repair/unitrecord.h"
#include "wrap/unitprotocol.h"

#include <gtest/gtest.h>

using namespace tsy;

TEST(UnitProtocol, EveryReportReadsBackAsItWasWrittenOnOneLine) {
    const std::string texts[] = {
        "",          "plain", "a\\b", "line\nbreak\r\n", "ends with \\", "\\n is not a line feed",
        "  blanks  "};
    const long long numbers[] = {0, 1, 75, 255, -1, 4194304};
    for (const unit::Verb v : unit::kVerbs) {
        std::vector<unit::Report> reports;
        if (unit::has_text(v))
            for (const std::string& t : texts)
                reports.push_back({v, 0, t});
        else if (unit::has_number(v))
            for (const long long n : numbers)
                reports.push_back({v, n, {}});
        else
            reports.push_back({v, 0, {}});
        for (const unit::Report& r : reports) {
            const std::string line = unit::format(r);
            EXPECT_EQ(line.find_first_of("\n\r"), std::string::npos) << line;
            const std::optional<unit::Report> back = unit::parse(line);
            ASSERT_TRUE(back) << line;
            EXPECT_EQ(*back, r) << line;
        }
    }
    // What no unit writes is skipped, never misread.
    for (const char* garbled : {"", "exit", "exit ", "exit x", "exit 1 2", "exit 1x", "done 1",
                                "endview", "endview bogus 1", "started", "bogus 1", "Exit 1"})
        EXPECT_FALSE(unit::parse(garbled)) << garbled;
}

TEST(UnitProtocol, ARecordWrittenByItsKeysIsReadBackWhole) {
    namespace rec = unit::record;
    const std::string tag = "odd\ntag\\with\rall";
    std::string text =
        std::string(rec::magic) + rec::line(rec::tag, tag) + rec::line(rec::lock, "/run/lock/x") +
        rec::line(rec::started, "2026-12-10T08:00:00Z") + rec::line(rec::fixProt, "exit 0") +
        rec::line(rec::fixProtEnded, "2026-12-10T08:01:00Z");
    repair::UnitRecord r = repair::parse_unit_record(QByteArray::fromStdString(text));
    EXPECT_EQ(r.tag, QString::fromStdString(tag));
    EXPECT_EQ(r.fixProt, QStringLiteral("exit 0"));
    EXPECT_TRUE(r.endviewOwed());

    text += rec::line(rec::endview, "exit 1") + rec::line(rec::endviewMessage, "no such view\n") +
            rec::line(rec::ended, "2026-12-10T08:01:02Z");
    r = repair::parse_unit_record(QByteArray::fromStdString(text));
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.endview, QStringLiteral("exit 1"));
    EXPECT_EQ(r.endviewMessage, QStringLiteral("no such view"));
    EXPECT_FALSE(r.endviewOwed());
}

TEST(ShellQuote, TheUnitAndTessalyQuoteAlikeAndTheShellReadsItBack) {
    const char* words[] = {"-chown",     "/vws/a.vws", "",   "it's",  "a b",
                           "NAME=value", "9NAME=x",    "=x", "a-b=c", "$x",
                           "é/vws",      "tab\there",  "'",  "x;y",   "PATH=/a b"};
    QStringList all;
    QString line;
    for (const char* w : words) {
        const std::string bytes = plat::shell_quote(std::string(w));
        const QString text = process::shell_quote(QString::fromUtf8(w));
        EXPECT_EQ(QString::fromUtf8(bytes), text) << w;
        all.append(QString::fromUtf8(w));
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + text;
    }
    // An assignment is quoted wherever it stands, so a shell never takes
    // it for one.
    EXPECT_EQ(process::shell_quote(QStringLiteral("NAME=value")), QStringLiteral("'NAME=value'"));
    EXPECT_EQ(process::shell_quote(QStringLiteral("a-b=c")), QStringLiteral("a-b=c"));
    const Result<QStringList> back = process::shell_words(line);
    ASSERT_TRUE(back.ok()) << back.error().toStdString();
    EXPECT_EQ(back.value(), all) << line.toStdString();
}
