#include "cc/failure.h"
#include "common/duplist.h"
#include "model/textutil.h"
#include "msgrecorder.h"

#include <QComboBox>

#include <gtest/gtest.h>

using namespace tsy;

namespace {
struct Split {
    QString text, delim, before, after;
};

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
} // namespace

TEST(SplitAtDelim, SplitsAtTheEarliestOccurrenceOnly) {
    const QString bs2 = QStringLiteral("\\\\");
    const Split cases[] = {
        {QStringLiteral("abc:def"), QStringLiteral(":"), QStringLiteral("abc"),
         QStringLiteral("def")},
        {QStringLiteral("abc:def:ghi"), QStringLiteral(":"), QStringLiteral("abc"),
         QStringLiteral("def:ghi")},
        {QStringLiteral(":def"), QStringLiteral(":"), QString(), QStringLiteral("def")},
        {QStringLiteral("abc:"), QStringLiteral(":"), QStringLiteral("abc"), QString()},
        {QStringLiteral("abc"), QStringLiteral(":"), QStringLiteral("abc"), QString()},
        {QStringLiteral("ab") + bs2 + QStringLiteral("cd"), bs2, QStringLiteral("ab"),
         QStringLiteral("cd")},
        {bs2 + QStringLiteral("srv\\share"), bs2, QString(), QStringLiteral("srv\\share")},
        {QStringLiteral("a\\b\\\\c"), bs2, QStringLiteral("a\\b"), QStringLiteral("c")},
        {QStringLiteral("aXb"), QStringLiteral("x"), QStringLiteral("aXb"), QString()},
        {QStringLiteral("x  /s p/a.vws\r\n"), QStringLiteral("/"), QStringLiteral("x  "),
         QStringLiteral("s p/a.vws\r\n")},
    };
    for (const Split& c : cases) {
        QString t = c.text;
        const QString rest = split_at_delim(t, c.delim);
        EXPECT_EQ(t, c.before) << c.text.toStdString();
        EXPECT_EQ(rest, c.after) << c.text.toStdString();
    }
}

TEST(StripCrlf, RemovesEveryCarriageReturnAndLineFeedWherever) {
    EXPECT_EQ(strip_crlf(QStringLiteral("/vws/a.vws\r\n")), QStringLiteral("/vws/a.vws"));
    EXPECT_EQ(strip_crlf(QStringLiteral("\r\n\r\n\n\r")), QString());
    EXPECT_EQ(strip_crlf(QString()), QString());
    EXPECT_EQ(strip_crlf(QStringLiteral("ab\ncd")), QStringLiteral("abcd"));
    EXPECT_EQ(strip_crlf(QStringLiteral("a\tb c")), QStringLiteral("a\tb c"));
    // Far beyond what a 16-bit length could hold.
    QString big(100000, u'x');
    big.insert(50000, QStringLiteral("\r\n"));
    EXPECT_EQ(strip_crlf(big), QString(100000, u'x'));
}

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
