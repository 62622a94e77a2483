// SPDX-License-Identifier: Apache-2.0
#include "model/viewlistmodel.h"

#include <QRandomGenerator>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>

using namespace tsy;
using namespace tsy::model;

namespace {
// Adds the view whose line is "tag:host".
bool add(ViewListModel& m, const QString& line) {
    const qsizetype colon = line.indexOf(u':');
    return m.addView(line.left(colon), line.mid(colon + 1));
}
} // namespace

namespace {
QStringList lines(const ViewListModel& m) {
    QStringList out;
    for (int i = 0; i < m.count(); ++i)
        out.append(m.text(i));
    return out;
}
} // namespace

TEST(ViewListModel, KeepsLinesSortedIgnoringCaseAndRefusesCaseDuplicates) {
    ViewListModel m;
    EXPECT_TRUE(add(m, QStringLiteral("beta:h1")));
    EXPECT_TRUE(add(m, QStringLiteral("Alpha:h2")));
    EXPECT_TRUE(add(m, QStringLiteral("gamma:h1")));
    EXPECT_FALSE(add(m, QStringLiteral("ALPHA:H2")));
    EXPECT_TRUE(add(m, QStringLiteral("alpha:h3"))); // same tag, other host
    EXPECT_EQ(lines(m), (QStringList{QStringLiteral("Alpha:h2"), QStringLiteral("alpha:h3"),
                                     QStringLiteral("beta:h1"), QStringLiteral("gamma:h1")}));
    // The first one met keeps its own case, and still refuses the others.
    EXPECT_FALSE(add(m, QStringLiteral("alpha:H2")));

    // With case-sensitive tags only exact duplicates are refused.
    ViewListModel sensitive;
    sensitive.setCaseSensitiveTags(true);
    EXPECT_TRUE(add(sensitive, QStringLiteral("Rel_Build:srv1")));
    EXPECT_TRUE(add(sensitive, QStringLiteral("rel_build:srv1")));
    EXPECT_FALSE(add(sensitive, QStringLiteral("rel_build:srv1")));
    EXPECT_EQ(sensitive.count(), 2);
}

TEST(ViewListModel, ABatchGivesTheSameOrderAsOneByOneInsertion) {
    // More lines than a few of the runs a batch sorts as they come.
    QStringList input;
    QRandomGenerator rng(42);
    for (int i = 0; i < 10000; ++i) {
        QString s;
        for (int k = 0; k < 6; ++k)
            s.append(QChar(u"aAbBcC_-9. "[rng.bounded(11)]));
        input.append(s + QStringLiteral(":h"));
    }
    ViewListModel single;
    for (const QString& s : input)
        add(single, s);
    ViewListModel batched;
    QStringList added;           // in the order the list took them
    add(batched, input.first()); // merge into existing rows as well
    added.append(input.first());
    batched.beginBatch();
    for (const QString& s : input)
        if (add(batched, s))
            added.append(s);
    EXPECT_EQ(batched.count(), single.count()); // pending lines count already
    batched.endBatch();
    EXPECT_EQ(lines(batched), lines(single));
    // Each sorted row still tells where it came in.
    for (int i = 0; i < batched.count(); ++i)
        ASSERT_EQ(added.value(qsizetype(batched.arrival(i))), batched.text(i)) << i;
    const QStringList sorted = lines(single);
    EXPECT_TRUE(
        std::is_sorted(sorted.cbegin(), sorted.cend(), [](const QString& a, const QString& b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        }));
}

TEST(ViewListModel, BatchesBeyondAsciiAndManyRemovalsKeepTheOrderAndTheDuplicateTest) {
    // Lines mixing ASCII with letters that fold otherwise, and characters
    // outside the BMP, sort in a batch as they do one by one.
    const QStringList pieces = {
        QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("_"),         QStringLiteral("9"),
        QStringLiteral("é"), QStringLiteral("É"), QStringLiteral("ß"),         QStringLiteral("Σ"),
        QStringLiteral("σ"), QStringLiteral("ς"), QStringLiteral("\U0001F600")};
    QRandomGenerator rng(7);
    ViewListModel single;
    ViewListModel batched;
    batched.beginBatch();
    for (int i = 0; i < 2000; ++i) {
        QString s;
        for (int k = 1 + rng.bounded(5); k > 0; --k)
            s += pieces.at(rng.bounded(int(pieces.size())));
        s += QStringLiteral(":h");
        EXPECT_EQ(add(batched, s), add(single, s)) << s.toStdString();
    }
    batched.endBatch();
    EXPECT_EQ(lines(batched), lines(single));

    // Every other line of a large list removed: each removed line may come
    // back, each kept one is still refused.
    ViewListModel m;
    m.setCaseSensitiveTags(true);
    for (int i = 0; i < 3000; ++i)
        add(m, QStringLiteral("v%1:h").arg(i));
    const auto even = [](const QString& l) {
        return l.mid(1, l.indexOf(u':') - 1).toInt() % 2 == 0;
    };
    EXPECT_EQ(m.removeWhere(even), 1500);
    int wrong = 0;
    for (int i = 0; i < 3000; ++i)
        wrong += add(m, QStringLiteral("v%1:h").arg(i)) != (i % 2 == 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(m.count(), 3000);
}

TEST(ViewListModel, RemoveWhereDropsRowsWithTheirMarksAndTracksTheCurrentRow) {
    ViewListModel m;
    for (const char* s : {"a1:h", "b2:h", "a3:h", "b4:h", "a5:h"})
        add(m, QString::fromLatin1(s));
    // Sorted: a1 a3 a5 b2 b4.
    m.setChecked(0, true);
    m.setChecked(4, true);
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    int current = 4; // b4
    EXPECT_EQ(m.removeWhere([](const QString& l) { return l.startsWith(u'a'); }, &current), 3);
    EXPECT_EQ(resets.count(), 1); // one batch, not a removal per row
    EXPECT_EQ(lines(m), (QStringList{QStringLiteral("b2:h"), QStringLiteral("b4:h")}));
    EXPECT_EQ(m.arrival(0), 1u); // the rows kept keep their places in the order added
    EXPECT_EQ(m.arrival(1), 3u);
    EXPECT_EQ(current, 1);
    EXPECT_FALSE(m.isChecked(0));
    EXPECT_TRUE(m.isChecked(1));
    // A removed line may come back.
    EXPECT_TRUE(add(m, QStringLiteral("A1:h")));
    current = 0;
    m.removeWhere([](const QString& l) { return l == QStringLiteral("A1:h"); }, &current);
    EXPECT_EQ(current, -1);
}

TEST(ViewListModel, ChecksThroughTheViewRoleAndAnnouncesHandChanges) {
    ViewListModel m;
    add(m, QStringLiteral("v:h"));
    QSignalSpy hand(&m, &ViewListModel::itemCheck);
    EXPECT_TRUE(m.setData(m.index(0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(m.isChecked(0));
    EXPECT_EQ(hand.count(), 1);
    EXPECT_EQ(m.data(m.index(0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    EXPECT_TRUE(m.flags(m.index(0)) & Qt::ItemIsUserCheckable);
    // Bulk changes are not hand changes.
    m.setCheckedWhere(false, {});
    EXPECT_EQ(hand.count(), 1);
    EXPECT_FALSE(m.isChecked(0));
}

TEST(ViewListModel, EachRowGivesBackItsTagAndHostWhateverTheirLengthOrColons) {
    // The store keeps lines in blocks of 32 Ki characters; a line longer
    // than a block, and lines on either side of it, read back whole.
    const QString longTag = QString(70000, u'x') + QStringLiteral(":still the tag");
    ViewListModel m;
    m.beginBatch();
    for (int i = 0; i < 5000; ++i)
        m.addView(QStringLiteral("v%1").arg(i), QStringLiteral("h%1").arg(i % 7));
    EXPECT_TRUE(m.addView(longTag, QStringLiteral("far.example.com")));
    EXPECT_TRUE(m.addView(QStringLiteral("a:b"), QStringLiteral("c")));
    EXPECT_FALSE(m.addView(QStringLiteral("A:B"), QStringLiteral("C")));
    m.endBatch();
    ASSERT_EQ(m.count(), 5002);
    int wrong = 0;
    bool sawLong = false;
    for (int i = 0; i < m.count(); ++i) {
        const QString tag = m.tag(i);
        const QString host = m.host(i);
        wrong += m.text(i) != tag + u':' + host;
        if (tag == longTag) {
            sawLong = true;
            EXPECT_EQ(host, QStringLiteral("far.example.com"));
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(sawLong);
    EXPECT_EQ(m.tag(0), QStringLiteral("a:b"));
    EXPECT_EQ(m.host(0), QStringLiteral("c"));
    // Removing rows makes the store anew; what is kept still reads back.
    EXPECT_EQ(m.removeWhere([](const QString& l) { return l.startsWith(u'v'); }), 5000);
    EXPECT_EQ(m.tag(1), longTag);
    EXPECT_FALSE(m.addView(longTag, QStringLiteral("FAR.example.com")));
}
