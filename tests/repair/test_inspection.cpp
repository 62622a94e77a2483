// SPDX-License-Identifier: Apache-2.0
// The verdict on a storage from the inspection's records, and the text
// that names what needs repair.
#include "qtprint.h"
#include "repair/inspection.h"

#include <gtest/gtest.h>

using namespace tsy;
using repair::InspectionEnd;
using repair::Verdict;

namespace {
// The inspection's records as the script writes them: MODE USER GROUP
// TYPE PATH, NUL-terminated.
QByteArray records(std::initializer_list<const char*> lines) {
    QByteArray out;
    for (const char* l : lines)
        out += QByteArray(l) + '\0';
    return out;
}

const QString kStorage = QStringLiteral("/vws/a.vws");
} // namespace

TEST(Verdict, NamesTheFirstWrongEntryAndCountsTheRest) {
    InspectionEnd e;
    e.out = records({"755\tvob\tcc\td\t.", "755\tvob\tcc\td\t./.identity",
                     "4555\tvob\tcc\tf\t./.identity/uid", "2555\tvob\tcc\tf\t./.identity/gid",
                     "755\troot\troot\td\t./.s", "644\tvob\tcc\tf\t./.s/ok",
                     "0\tvob\tcc\tf\t./.s/line\nbreak", "777\tvob\tcc\td\t./.s/open"});
    const Verdict v =
        repair::verdict(e, kStorage, QStringLiteral("vob"), QStringLiteral("cc"), QString());
    EXPECT_EQ(v.kind, Verdict::Kind::NeedsRepair);
    EXPECT_EQ(v.found, 3);
    EXPECT_EQ(v.first, QStringLiteral("/vws/a.vws/.s"));
    EXPECT_EQ(v.firstWhy, QStringLiteral("owned by root:root"));
    EXPECT_EQ(repair::needs_repair_text(v.found, v.more, v.first, v.firstWhy),
              QStringLiteral("3 entries, the first /vws/a.vws/.s (owned by root:root)"));
    ASSERT_EQ(v.problems.size(), 2u);
    EXPECT_EQ(v.problems[1].kind, QStringLiteral("mode"));
    EXPECT_EQ(v.problems[1].count, 2);

    // A path's line break is shown escaped; a cut reading is "or more".
    const repair::Problem& mode = v.problems[1];
    EXPECT_EQ(repair::needs_repair_text(1, false, mode.first, mode.why),
              QStringLiteral("1 entry, the first /vws/a.vws/.s/line\\nbreak (mode 0000: its owner "
                             "cannot read or write it)"));
    EXPECT_TRUE(repair::needs_repair_text(1, true, kStorage, QStringLiteral("x"))
                    .startsWith(QStringLiteral("1 or more entries, the first ")));

    // A storage whose every entry keeps the rules is sound.
    e.out = records({"755\tvob\tcc\td\t.", "755\tvob\tcc\td\t./.identity",
                     "4555\tvob\tcc\tf\t./.identity/uid", "2555\tvob\tcc\tf\t./.identity/gid",
                     "755\tvob\tcc\td\t./.s"});
    EXPECT_EQ(
        repair::verdict(e, kStorage, QStringLiteral("vob"), QStringLiteral("cc"), QString()).kind,
        Verdict::Kind::Sound);
}
