// SPDX-License-Identifier: Apache-2.0
#include "cc/cleartoolcli.h"
#include "cc/lsviewparse.h"
#include "cc/session.h"
#include "temphome.h"

#include <QEventLoop>
#include <QFile>

#include <gtest/gtest.h>

using namespace tsy::cc;
using tsy::Result;
namespace cc = tsy::cc;

namespace {
const char kUnixRecord[] = "Tag: your_view_name\n"
                           "  Global path: /somepath/your_view_name.vws\n"
                           "  Server host: host\n"
                           "  Region: ddd\n"
                           "  Active: NO\n"
                           "  View tag uuid:7ddcc71f.d21511e1.8c47.80:c1:6e:e6:4b:b1\n"
                           "View on host: host\n"
                           "View server access path: /viewstorage/your_view_name.vws\n"
                           "View uuid: 7ddcc71f.d21511e1.8c47.80:c1:6e:e6:4b:b1\n"
                           "View owner: test\n";

const char kWindowsSnapshot[] = "Tag: doc_nt \"Documentation snapshot\"\r\n"
                                "  Global path: \\\\sunfield\\share\\views\\doc_nt.vws\r\n"
                                "  Server host: sunfield\r\n"
                                "  Region: win_region\r\n"
                                "  Active: YES\r\n"
                                "  View tag uuid:1a2b3c4d.5e6f7a8b.9c0d.1e:2f:3a:4b:5c:6d\r\n"
                                "View on host: sunfield\r\n"
                                "View server access path: d:\\share\\views\\doc_nt.vws\r\n"
                                "View uuid: 1a2b3c4d.5e6f7a8b.9c0d.1e:2f:3a:4b:5c:6d\r\n"
                                "View attributes: snapshot,ucmview\r\n"
                                "View owner: SUNFIELD\\doc\r\n";
} // namespace

TEST(LsviewLong, ReadsRealUnixAndWindowsRecords) {
    const QByteArray both = QByteArray(kUnixRecord) + QByteArray(kWindowsSnapshot);
    const QList<LsviewRecord> r = parse_lsview_long(both);
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r[0].tag, QStringLiteral("your_view_name"));
    EXPECT_EQ(r[0].serverHost, QStringLiteral("host"));
    EXPECT_EQ(r[0].globalPath, QStringLiteral("/somepath/your_view_name.vws"));
    EXPECT_EQ(r[0].active, false);
    EXPECT_FALSE(r[0].snapshot());
    EXPECT_FALSE(r[0].ucm());
    EXPECT_TRUE(r[0].problem.isEmpty());
    EXPECT_EQ(r[1].tag, QStringLiteral("doc_nt"));
    EXPECT_EQ(r[1].comment, QStringLiteral("Documentation snapshot"));
    EXPECT_EQ(r[1].serverHost, QStringLiteral("sunfield"));
    EXPECT_EQ(r[1].globalPath, QStringLiteral("\\\\sunfield\\share\\views\\doc_nt.vws"));
    EXPECT_EQ(r[1].active, true);
    EXPECT_TRUE(r[1].snapshot());
    EXPECT_TRUE(r[1].ucm());
    EXPECT_EQ(r[1].owner, QStringLiteral("SUNFIELD\\doc"));
}

TEST(LsviewLong, ToleratesIndentationUnknownLinesAndMissingFields) {
    const QByteArray out = "\n   Tag: dyn_view\n\tServer host: h1\n  Brand new field: 7\n"
                           "Tag: bare\n"
                           "Tag: nohost\n  Active: YES\n";
    const QList<LsviewRecord> r = parse_lsview_long(out);
    ASSERT_EQ(r.size(), 3);
    EXPECT_EQ(r[0].tag, QStringLiteral("dyn_view"));
    EXPECT_EQ(r[0].serverHost, QStringLiteral("h1"));
    EXPECT_FALSE(r[0].active.has_value());
    EXPECT_FALSE(r[0].attributes.has_value());
    EXPECT_EQ(r[1].tag, QStringLiteral("bare"));
    EXPECT_FALSE(r[2].serverHost.has_value());
    for (const LsviewRecord& x : r)
        EXPECT_TRUE(x.problem.isEmpty());
    EXPECT_TRUE(parse_lsview_long(QByteArray()).isEmpty());
}

TEST(LsviewLong, MarksGarbageAndKeepsOddTagsWhole) {
    const QByteArray out = QByteArray("\xff\xfe garbage line\n", 16) +
                           "Tag: my view; $HOME `id` \"quoted\" tag\n  Server host: h\n" +
                           QByteArray("Tag: bad\x01tag\n  Server host: h\n", 30) +
                           "Tag: t\xc3\xa9l\xc3\xa9phone\n  Server host: h\xc3\xb4te\n";
    const QList<LsviewRecord> r = parse_lsview_long(out);
    ASSERT_EQ(r.size(), 4);
    EXPECT_FALSE(r[0].tag.has_value());
    EXPECT_FALSE(r[0].problem.isEmpty());
    EXPECT_EQ(r[1].tag, QStringLiteral("my view; $HOME `id` \"quoted\" tag"));
    EXPECT_TRUE(r[1].comment.isEmpty());
    EXPECT_FALSE(r[2].problem.isEmpty());
    EXPECT_EQ(r[3].tag, QStringLiteral("téléphone"));
    EXPECT_EQ(r[3].serverHost, QStringLiteral("hôte"));
    EXPECT_TRUE(r[3].problem.isEmpty());
}

TEST(LsviewLong, JunkBeforeATagLineNeverLendsItsFieldsToTheRecordBefore) {
    const QByteArray out = QByteArray("Tag: a\n  Server host: ha\n") +
                           QByteArray("\0\x07Tag: b\n  Server host: hb\n", 27) +
                           "Tag: c\n  Server host: hc\n  Server host: again\n";
    const QList<LsviewRecord> r = parse_lsview_long(out);
    ASSERT_EQ(r.size(), 4);
    EXPECT_EQ(r[0].serverHost, QStringLiteral("ha"));
    EXPECT_TRUE(r[0].problem.isEmpty());
    EXPECT_FALSE(r[1].problem.isEmpty());
    // A field met twice starts a record without a tag; c keeps its own.
    EXPECT_EQ(r[2].serverHost, QStringLiteral("hc"));
    EXPECT_TRUE(r[2].problem.isEmpty());
    EXPECT_FALSE(r[3].tag.has_value());
    EXPECT_FALSE(r[3].problem.isEmpty());
}

TEST(LsviewLong, TruncatedOutputLeavesTheLastRecordWithoutItsHost) {
    QByteArray out = QByteArray(kUnixRecord) + QByteArray(kUnixRecord).replace("your", "next");
    out.truncate(QByteArray(kUnixRecord).size() + 30);
    const QList<LsviewRecord> r = parse_lsview_long(out);
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r[1].tag, QStringLiteral("next_view_name"));
    EXPECT_FALSE(r[1].serverHost.has_value());
}

TEST(LsviewLong, ACharacterCutShortByTheEndOfTheOutputIsKeptAsBytes) {
    // A listing cut off inside a character: the last tag keeps the byte, so
    // its view is unreadable, not a view of another name.
    const QList<LsviewRecord> r =
        parse_lsview_long(QByteArray("Tag: caf\xc3\xa9\n  Server host: h\nTag: caf\xc3"));
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r[0].tag, QStringLiteral("café"));
    EXPECT_TRUE(r[0].problem.isEmpty());
    ASSERT_TRUE(r[1].tag.has_value());
    EXPECT_EQ(printable_name(*r[1].tag), QStringLiteral("caf\\xC3"));
    EXPECT_FALSE(r[1].problem.isEmpty());
}

TEST(FindRecord, TakesTheOneSoundRecordThatNamesTheTag) {
    const Result<std::optional<LsviewRecord>> plain =
        find_record(parse_lsview_long(kUnixRecord), QStringLiteral("your_view_name"));
    ASSERT_TRUE(plain.value().has_value()) << plain.error().toStdString();
    EXPECT_TRUE(plain.error().isEmpty());
    EXPECT_EQ(plain.value()->tag, QStringLiteral("your_view_name"));
    EXPECT_EQ(plain.value()->accessPath, QStringLiteral("/viewstorage/your_view_name.vws"));

    // A tag that ends in a quoted word reads both ways: as the tag and its
    // comment, and as the tag whole, which then comes back without comment.
    const Result<std::optional<LsviewRecord>> split =
        find_record(parse_lsview_long(kWindowsSnapshot), QStringLiteral("doc_nt"));
    ASSERT_TRUE(split.value().has_value()) << split.error().toStdString();
    EXPECT_EQ(split.value()->tag, QStringLiteral("doc_nt"));
    EXPECT_EQ(split.value()->comment, QStringLiteral("Documentation snapshot"));
    const QString whole = QStringLiteral("doc_nt \"Documentation snapshot\"");
    const Result<std::optional<LsviewRecord>> joined =
        find_record(parse_lsview_long(kWindowsSnapshot), whole);
    ASSERT_TRUE(joined.value().has_value()) << joined.error().toStdString();
    EXPECT_EQ(joined.value()->tag, whole);
    EXPECT_TRUE(joined.value()->comment.isEmpty());
    EXPECT_EQ(joined.value()->serverHost, QStringLiteral("sunfield"));
}

TEST(FindRecord, RefusesOutputItCannotTrustAndSaysWhy) {
    // No record at all: cleartool knows no such view, and the caller says so.
    Result<std::optional<LsviewRecord>> found =
        find_record(parse_lsview_long(""), QStringLiteral("a"));
    EXPECT_FALSE(found.value().has_value());
    EXPECT_TRUE(found.ok());
    EXPECT_TRUE(found.error().isEmpty());
    found = find_record({}, QStringLiteral("a"));
    EXPECT_FALSE(found.value().has_value());
    EXPECT_TRUE(found.ok());
    EXPECT_TRUE(found.error().isEmpty());

    // Another view's record, also one whose name only begins like the tag.
    for (const char* asked : {"other", "your_view", "your_view_name \"x\""}) {
        found = find_record(parse_lsview_long(kUnixRecord), QString::fromUtf8(asked));
        EXPECT_FALSE(found.value().has_value()) << asked;
        EXPECT_EQ(found.error(),
                  QStringLiteral("lsview -long gave the record of view \"your_view_name\" "
                                 "for view \"") +
                      QString::fromUtf8(asked) + u'"');
    }
    // The comment is no part of the tag asked for unless it is written whole.
    found = find_record(parse_lsview_long(kWindowsSnapshot),
                        QStringLiteral("doc_nt \"Documentation\""));
    EXPECT_FALSE(found.value().has_value());
    EXPECT_FALSE(found.error().isEmpty());

    // Two records for one tag: neither is taken, even the one that names it.
    const QByteArray twice = QByteArray(kUnixRecord) + QByteArray(kUnixRecord);
    found = find_record(parse_lsview_long(twice), QStringLiteral("your_view_name"));
    EXPECT_FALSE(found.value().has_value());
    EXPECT_EQ(found.error(),
              QStringLiteral("lsview -long gave 2 records for view \"your_view_name\", not one"));

    // Garbled output: the problem of the record that cannot be read, also
    // when a sound record of the tag is beside it.
    const QByteArray garbled[] = {
        QByteArray("  Server host: h\n  Global path: /vws/a.vws\n"),
        QByteArray("junk\x01\n") + kUnixRecord,
        QByteArray(kUnixRecord) + "Tag: caf\xc3\n",
        QByteArray("Tag: your_view_name\n  Server host: \x1b[0m\n"),
    };
    for (const QByteArray& out : garbled) {
        const QList<LsviewRecord> records = parse_lsview_long(out);
        QString expected;
        for (const LsviewRecord& r : records)
            if (expected.isEmpty())
                expected = r.problem;
        ASSERT_FALSE(expected.isEmpty()) << out.toStdString();
        found = find_record(records, QStringLiteral("your_view_name"));
        EXPECT_FALSE(found.value().has_value()) << out.toStdString();
        EXPECT_EQ(found.error(), expected) << out.toStdString();
        EXPECT_TRUE(found.error().startsWith(QStringLiteral("unreadable lsview output")))
            << found.error().toStdString();
    }
}

namespace {
struct Listed {
    QStringList views;
    QStringList unread;
    tsy::cc::ListingReport report;
};

Listed list_views(const QString& home) {
    CliBackend backend;
    std::unique_ptr<tsy::cc::Session> session = backend.createSession(home);
    Listed out;
    tsy::cc::ListingJob* job = session->listViews(nullptr);
    QEventLoop loop;
    QObject::connect(job, &tsy::cc::ListingJob::viewListed, job,
                     [&](const QString& t, const QString& h) { out.views << t + u':' + h; });
    QObject::connect(job, &tsy::cc::ListingJob::viewUnreadable, job,
                     [&](const QString& why) { out.unread << why; });
    QObject::connect(job, &tsy::cc::Job::finished, &loop, &QEventLoop::quit);
    loop.exec();
    out.report = job->report();
    delete job;
    return out;
}
} // namespace

TEST(CleartoolListing, ViewsNamedOnStderrFailAloneAndTheOthersAreKept) {
    tsy::test::TempHome home;
    QFile f(home.path() + QStringLiteral("/bin/cleartool"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("#!/bin/sh\n"
            "printf 'Tag: up\\n  Server host: h1\\n'\n"
            "echo \"cleartool: Error: Unable to contact albd_server on host 'down'\" >&2\n"
            "echo 'cleartool: Error: Unable to get view \"gone\"' >&2\n"
            "exit 1\n");
    f.close();
    Listed l = list_views(home.path());
    EXPECT_EQ(l.views, QStringList{QStringLiteral("up:h1")});
    EXPECT_EQ(l.unread,
              (QStringList{
                  QStringLiteral("cleartool: Error: Unable to contact albd_server on host 'down'"),
                  QStringLiteral("cleartool: Error: Unable to get view \"gone\"")}));
    EXPECT_EQ(l.report.total, 3);
    EXPECT_EQ(l.report.unreadable, 2);

    // With nothing listed at all, the listing itself failed.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("#!/bin/sh\necho 'cleartool: Error: registry down' >&2\nexit 1\n");
    f.close();
    l = list_views(home.path());
    EXPECT_TRUE(l.report.failedBefore);
    EXPECT_EQ(l.report.lastFailure, QStringLiteral("cleartool: Error: registry down"));
}

TEST(LoadReport, NamesUnreadViewsWithTheirBytesAndAtMostTwenty) {
    // A tag that is not valid UTF-8 is unreadable, but named as it came.
    const QList<cc::LsviewRecord> r = cc::parse_lsview_long(
        QByteArrayView("Tag: ok\n  Server host: h\nTag: ab\xff\xfe\x01z\n  Server host: h\n"));
    ASSERT_EQ(r.size(), 2);
    EXPECT_TRUE(r[0].problem.isEmpty());
    EXPECT_FALSE(r[1].problem.isEmpty());
    EXPECT_EQ(cc::printable_name(r[1].tag.value_or(QString())),
              QStringLiteral("ab\\xFF\\xFE\\x01z"));
    // Valid text stays as it is, whatever its script.
    EXPECT_EQ(cc::decode_output(QByteArrayView("\xc3\xbc")), QStringLiteral("ü"));

    cc::ListingReport report;
    report.total = 40;
    report.unreadable = 25;
    report.lastFailure = QStringLiteral("unreadable lsview output");
    for (int i = 1; i <= 25; ++i)
        report.unreadNames.append(QStringLiteral("v%1").arg(i));
    const QString text = cc::report_text(report);
    EXPECT_TRUE(text.contains(QStringLiteral("\r\nNot listed: v1, v2, ")));
    EXPECT_TRUE(text.endsWith(QStringLiteral(", v20 and 5 more")));
}
