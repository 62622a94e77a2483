#include "common/duplist.h"
#include "clearcase/viewlistmodel.h"

#include <QRandomGenerator>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>

using namespace tsy;

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
    EXPECT_TRUE(m.addSorted(QStringLiteral("beta:h1")));
    EXPECT_TRUE(m.addSorted(QStringLiteral("Alpha:h2")));
    EXPECT_TRUE(m.addSorted(QStringLiteral("gamma:h1")));
    EXPECT_FALSE(m.addSorted(QStringLiteral("ALPHA:H2")));
    EXPECT_TRUE(m.addSorted(QStringLiteral("alpha:h3"))); // same tag, other host
    EXPECT_EQ(lines(m), (QStringList{QStringLiteral("Alpha:h2"), QStringLiteral("alpha:h3"),
                                     QStringLiteral("beta:h1"), QStringLiteral("gamma:h1")}));
    // The first one met keeps its own case.
    EXPECT_TRUE(m.containsIgnoringCase(QStringLiteral("alpha:H2")));
}

TEST(ViewListModel, HashDuplicateTestAgreesWithTheLinearScan) {
    // Letters whose case folding is not plain ASCII.
    const QStringList pool = {
        QStringLiteral("straße"),  QStringLiteral("STRASSE"),  QStringLiteral("Ωmega"),
        QStringLiteral("ωMEGA"),   QStringLiteral("İstanbul"), QStringLiteral("istanbul"),
        QStringLiteral("ǅemal"),   QStringLiteral("ǆemal"),    QStringLiteral("Σίσυφος"),
        QStringLiteral("σίσυφοσ"), QStringLiteral("a b"),      QStringLiteral("A B"),
        QStringLiteral("é"),       QStringLiteral("É")};
    ViewListModel m;
    QStringList plain; // what a scan with is_dup_list keeps
    class L : public TextList {
    public:
        explicit L(const QStringList& l) : m_l(l) {}
        int count() const override { return int(m_l.size()); }
        QString text(int i) const override { return m_l.at(i); }
        const QStringList& m_l;
    } scan(plain);
    for (const QString& s : pool) {
        const QString line = s + QStringLiteral(":host");
        const bool dupByScan = is_dup_list(line, scan);
        if (!dupByScan)
            plain.append(line);
        EXPECT_EQ(m.addSorted(line), !dupByScan) << line.toStdString();
    }
    EXPECT_EQ(m.count(), plain.size());
}

TEST(ViewListModel, ABatchGivesTheSameOrderAsOneByOneInsertion) {
    QStringList input;
    QRandomGenerator rng(42);
    for (int i = 0; i < 3000; ++i) {
        QString s;
        for (int k = 0; k < 6; ++k)
            s.append(QChar(u"aAbBcC_-9. "[rng.bounded(11)]));
        input.append(s + QStringLiteral(":h"));
    }
    ViewListModel single;
    for (const QString& s : input)
        single.addSorted(s);
    ViewListModel batched;
    batched.addSorted(input.first()); // merge into existing rows as well
    batched.beginBatch();
    for (const QString& s : input)
        batched.addSorted(s);
    EXPECT_EQ(batched.count(), single.count()); // pending lines count already
    batched.endBatch();
    EXPECT_EQ(lines(batched), lines(single));
    const QStringList sorted = lines(single);
    EXPECT_TRUE(
        std::is_sorted(sorted.cbegin(), sorted.cend(), [](const QString& a, const QString& b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        }));
}

TEST(ViewListModel, RemoveWhereDropsRowsWithTheirMarksAndTracksTheCurrentRow) {
    ViewListModel m;
    for (const char* s : {"a1", "b2", "a3", "b4", "a5"})
        m.addSorted(QString::fromLatin1(s));
    // Sorted: a1 a3 a5 b2 b4.
    m.setChecked(0, true);
    m.setChecked(4, true);
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    int current = 4; // b4
    EXPECT_EQ(m.removeWhere([](const QString& l) { return l.startsWith(u'a'); }, &current), 3);
    EXPECT_EQ(resets.count(), 1); // one batch, not a removal per row
    EXPECT_EQ(lines(m), (QStringList{QStringLiteral("b2"), QStringLiteral("b4")}));
    EXPECT_EQ(current, 1);
    EXPECT_FALSE(m.isChecked(0));
    EXPECT_TRUE(m.isChecked(1));
    // A removed line may come back.
    EXPECT_TRUE(m.addSorted(QStringLiteral("A1")));
    current = 0;
    m.removeWhere([](const QString& l) { return l == QStringLiteral("A1"); }, &current);
    EXPECT_EQ(current, -1);
}

TEST(ViewListModel, ChecksThroughTheViewRoleAndAnnouncesHandChanges) {
    ViewListModel m;
    m.addSorted(QStringLiteral("v:h"));
    QSignalSpy hand(&m, &ViewListModel::itemCheck);
    EXPECT_TRUE(m.setData(m.index(0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(m.isChecked(0));
    EXPECT_EQ(hand.count(), 1);
    EXPECT_EQ(m.data(m.index(0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    EXPECT_TRUE(m.flags(m.index(0)) & Qt::ItemIsUserCheckable);
    // Bulk changes are not hand changes.
    m.setCheckedWhere(false, {});
    EXPECT_EQ(hand.count(), 1);
    EXPECT_EQ(m.checkedCount(), 0);
}
