// SPDX-License-Identifier: Apache-2.0
// A view's line of the JSON report, which is written by hand.
#include "headless/report.h"
#include "repair/inspection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace tsy::headless;

namespace {
QJsonObject parsed(const QByteArray& line) {
    EXPECT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1) << line.constData();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.constData();
    return doc.object();
}
} // namespace

TEST(ReportJson, AViewsLineKeepsAnyTextAndSaysNullForWhatIsNotKnown) {
    // Text a tag, a path or a message may hold: quotes, backslashes,
    // control characters, a line break, and characters beyond ASCII.
    const QString odd =
        QString::fromUtf8("a \"q\" \\ b\tc\nd\x01 \xc3\xa9\xe2\x82\xac \xf0\x9f\x94\xa7");
    ViewResult r;
    r.tag = odd;
    r.host = QStringLiteral("ccview01");
    r.storage = QStringLiteral("/vws/") + odd;
    r.command = {QStringLiteral("fix_prot"), QStringLiteral("-chown"), odd};
    r.outcome = ViewResult::Outcome::NeedsRepair;
    r.inspected = true;
    r.found = 3;
    r.more = true;
    r.first = odd;
    r.problems = {{QStringLiteral("owner"), 2, odd, QStringLiteral("owned by \"x\"")},
                  {QStringLiteral("identity"), 1, QStringLiteral(".identity"), QString()}};
    r.groups = {QStringLiteral("staff"), odd};
    r.start = QDateTime::fromMSecsSinceEpoch(1796949681773, Qt::UTC);
    r.ms = 1234;
    const QJsonObject o = parsed(view_json(r));
    EXPECT_EQ(o.value(QStringLiteral("tag")).toString(), odd);
    EXPECT_EQ(o.value(QStringLiteral("storage")).toString(), QStringLiteral("/vws/") + odd);
    EXPECT_EQ(o.value(QStringLiteral("command")).toArray().last().toString(), odd);
    EXPECT_EQ(o.value(QStringLiteral("outcome")).toString(), QStringLiteral("needs_repair"));
    EXPECT_EQ(o.value(QStringLiteral("found")).toInt(-1), 3);
    EXPECT_TRUE(o.value(QStringLiteral("more")).toBool());
    const QJsonArray problems = o.value(QStringLiteral("problems")).toArray();
    ASSERT_EQ(problems.size(), 2);
    EXPECT_EQ(problems[0].toObject().value(QStringLiteral("count")).toInt(), 2);
    EXPECT_EQ(problems[0].toObject().value(QStringLiteral("first")).toString(), odd);
    EXPECT_EQ(problems[0].toObject().value(QStringLiteral("why")).toString(),
              QStringLiteral("owned by \"x\""));
    EXPECT_EQ(problems[1].toObject().value(QStringLiteral("kind")).toString(),
              QStringLiteral("identity"));
    EXPECT_EQ(o.value(QStringLiteral("additional_groups")).toArray().last().toString(), odd);
    EXPECT_EQ(o.value(QStringLiteral("start")).toString(),
              QStringLiteral("2026-12-11T00:41:21.773Z"));
    EXPECT_DOUBLE_EQ(o.value(QStringLiteral("duration_s")).toDouble(), 1.234);
    EXPECT_TRUE(o.value(QStringLiteral("reason")).isNull());
    EXPECT_TRUE(o.value(QStringLiteral("exit_status")).isNull());
    EXPECT_FALSE(o.contains(QStringLiteral("endview")));

    // A dry run's plan: nothing inspected, nothing started.
    ViewResult plan;
    plan.tag = QStringLiteral("v");
    plan.command = {QStringLiteral("fix_prot")};
    plan.endview = {QStringLiteral("cleartool"), QStringLiteral("endview"), odd};
    plan.outcome = ViewResult::Outcome::Planned;
    plan.exitStatus = 0;
    const QJsonObject p = parsed(view_json(plan));
    EXPECT_TRUE(p.value(QStringLiteral("host")).isNull());
    EXPECT_TRUE(p.value(QStringLiteral("found")).isNull());
    EXPECT_TRUE(p.value(QStringLiteral("start")).isNull());
    EXPECT_FALSE(p.contains(QStringLiteral("problems")));
    EXPECT_EQ(p.value(QStringLiteral("exit_status")).toInt(-1), 0);
    EXPECT_EQ(p.value(QStringLiteral("endview")).toArray().last().toString(), odd);
    EXPECT_EQ(p.value(QStringLiteral("duration_s")).toDouble(-1), 0.0);
}

TEST(ReportJson, AListingsLineKeepsAnyTextAndSaysNullForWhatIsNotKnown) {
    const QString odd = QString::fromUtf8("plain then \"q\" \\ \x01 \xc3\xa9 \xf0\x9f\x94\xa7");
    QByteArray out;
    append_listing_json(out, odd, QStringLiteral("h1"), odd + QStringLiteral(":h1"), odd, false,
                        {QStringLiteral("snapshot"), odd});
    const QJsonObject o = parsed(out);
    EXPECT_EQ(o.value(QStringLiteral("tag")).toString(), odd);
    EXPECT_EQ(o.value(QStringLiteral("line")).toString(), odd + QStringLiteral(":h1"));
    EXPECT_EQ(o.value(QStringLiteral("global_path")).toString(), odd);
    EXPECT_FALSE(o.value(QStringLiteral("active")).toBool(true));
    EXPECT_EQ(o.value(QStringLiteral("attributes")).toArray(),
              (QJsonArray{QStringLiteral("snapshot"), odd}));

    // A view listed without a record: nothing more is known of it.
    QByteArray bare;
    append_listing_json(bare, QStringLiteral("v"), QStringLiteral("h"), QStringLiteral("v:h"),
                        QString(), std::nullopt, QStringList());
    const QJsonObject b = parsed(bare);
    EXPECT_TRUE(b.value(QStringLiteral("global_path")).isNull());
    EXPECT_TRUE(b.value(QStringLiteral("active")).isNull());
    EXPECT_EQ(b.value(QStringLiteral("attributes")).toArray(), QJsonArray());
}
