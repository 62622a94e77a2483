// SPDX-License-Identifier: Apache-2.0
#include "cc/failure.h"
#include "common/duplist.h"
#include "model/viewlistmodel.h"
#include "msgrecorder.h"

#include <QComboBox>

#include <gtest/gtest.h>

using namespace tsy;
using model::TextList;
using model::ViewListModel;
using tsy::cc::Failure;

namespace {
class VectorList : public TextList {
public:
    explicit VectorList(QStringList l, int failAt = -1) : m_l(std::move(l)), m_failAt(failAt) {}
    int count() const override { return int(m_l.size()); }
    QString text(int i) const override {
        if (i == m_failAt)
            throw Failure(QStringLiteral("Subscript out of range"));
        return m_l.at(i);
    }

private:
    QStringList m_l;
    int m_failAt;
};

// Adds the view whose line is "tag:host".
bool add(ViewListModel& m, const QString& line) {
    const qsizetype colon = line.indexOf(u':');
    return m.addView(line.left(colon), line.mid(colon + 1));
}
} // namespace

TEST(IsDupList, ComparesWholeTextsIgnoringCase) {
    test::MsgRecorder boxes;
    EXPECT_FALSE(is_dup_list(QStringLiteral("abc"), VectorList({})));
    const VectorList l({QStringLiteral("x:y"), QStringLiteral("abc:HOST")});
    EXPECT_TRUE(is_dup_list(QStringLiteral("ABC:host"), l));
    EXPECT_FALSE(is_dup_list(QStringLiteral("abc"), l));
    EXPECT_FALSE(is_dup_list(QStringLiteral("abc:HOST "), l));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST(IsDupList, AFailingListIsReportedAndGivesTheResultSoFar) {
    test::MsgRecorder boxes;
    const VectorList l({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, 1);
    EXPECT_FALSE(is_dup_list(QStringLiteral("c"), l));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("Error:Subscript out of range::checking dup list::is_dup_list()"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Error.."));
    EXPECT_EQ(boxes.last().icon, MsgIcon::Critical);
    // A match found before the failure stands.
    EXPECT_TRUE(is_dup_list(QStringLiteral("A"), l));
}

TEST(IsDupList, WorksOnComboBoxesAndReportsAMissingOne) {
    test::MsgRecorder boxes;
    QComboBox combo;
    combo.addItems({QStringLiteral("Find-->"), QStringLiteral("Filter-->")});
    EXPECT_TRUE(is_dup_list(QStringLiteral("filter-->"), ComboTextList(&combo)));
    EXPECT_FALSE(is_dup_list(QStringLiteral("Filter"), ComboTextList(&combo)));
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_FALSE(is_dup_list(QStringLiteral("x"), ComboTextList(nullptr)));
    EXPECT_EQ(boxes.boxes.size(), 1);
}

TEST(ViewListModel, HashDuplicateTestAgreesWithTheLinearScan) {
    // Letters whose case folding is not plain ASCII.
    const QStringList pool = {
        QStringLiteral("straße:h"),  QStringLiteral("STRASSE:h"),  QStringLiteral("Ωmega:h"),
        QStringLiteral("ωMEGA:h"),   QStringLiteral("İstanbul:h"), QStringLiteral("istanbul:h"),
        QStringLiteral("ǅemal:h"),   QStringLiteral("ǆemal:h"),    QStringLiteral("Σίσυφος:h"),
        QStringLiteral("σίσυφοσ:h"), QStringLiteral("a b:h"),      QStringLiteral("A B:h"),
        QStringLiteral("é:h"),       QStringLiteral("É:h")};
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
        EXPECT_EQ(add(m, line), !dupByScan) << line.toStdString();
    }
    EXPECT_EQ(m.count(), plain.size());
}
