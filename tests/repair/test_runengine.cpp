// SPDX-License-Identifier: Apache-2.0
// The run engine and the repair of one view against an in-process session
// that speaks UNIX ClearCase: views on hosts reached through a stand-in
// remote shell, one of whose hosts never answers (exit status 255).
#include "cc/session.h"
#include "repair/factbatch.h"
#include "repair/runengine.h"
#include "repair/viewrepair.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tsy;
using namespace tsy::repair;
using Kind = RepairOutcome::Kind;

namespace {

// A command answered on a later turn of the event loop.
class FakeCommand : public cc::CommandJob {
public:
    FakeCommand(QObject* parent, std::optional<QString> output, const QString& error)
        : cc::CommandJob(parent) {
        QTimer::singleShot(0, this, [this, output, error] {
            if (output) {
                setOutput(*output);
                succeed();
            } else {
                fail(error);
            }
        });
    }
    void abandon() override {}
};

// Views by tag on their hosts; endview of the tags in failEndview fails.
class FakeSession : public cc::Session {
public:
    QHash<QString, QString> hostOf;
    QSet<QString> failEndview;
    QStringList commands; // every command, its words joined by blanks

    cc::ListingJob* listViews(QObject*) override { return nullptr; }
    cc::DetailsJob* details(const QString&, QObject*) override { return nullptr; }
    cc::FixProtStyle fixProtStyle() const override { return cc::FixProtStyle::Unix; }

    QString record(const QString& tag) const {
        return QStringLiteral("Tag: %1\n  Global path: /vws/%1.vws\n  Server host: %2\n"
                              "  Region: r\n  Active: YES\nView on host: %2\n"
                              "View server access path: /vws/%1.vws\nView owner: dev\n"
                              "Owner: dev : rwx (all)\nGroup: dev : r-x (read)\n")
            .arg(tag, hostOf.value(tag));
    }

    cc::CommandJob* command(const QStringList& words, cc::Effect, QObject* parent) override {
        commands.append(words.join(u' '));
        // Several tags: their records, and cleartool's failure for any it
        // does not know.
        if (words.size() > 5) {
            QString out;
            for (const QString& tag : words.mid(4)) {
                if (!hostOf.contains(tag))
                    return new FakeCommand(parent, std::nullopt,
                                           QStringLiteral("cleartool: Error: No matching "
                                                          "entries found for view tag \"") +
                                               tag + u'"');
                out += record(tag);
            }
            return new FakeCommand(parent, out, QString());
        }
        const QString tag = words.last();
        const QString storage = QStringLiteral("/vws/") + tag + QStringLiteral(".vws");
        if (!hostOf.contains(tag))
            return new FakeCommand(parent, std::nullopt,
                                   QStringLiteral("cleartool: Error: No matching entries found "
                                                  "for view tag \"") +
                                       tag + u'"');
        if (words.first() == QLatin1StringView("endview")) {
            if (failEndview.contains(tag))
                return new FakeCommand(parent, std::nullopt,
                                       QStringLiteral("cleartool: Error: Unable to stop"));
            return new FakeCommand(parent, QString(), QString());
        }
        if (words.size() == 2)
            return new FakeCommand(
                parent, QStringLiteral("  ") + tag + QStringLiteral("  ") + storage + u'\n',
                QString());
        return new FakeCommand(parent, record(tag), QString());
    }
};

// A remote shell that reaches every host but "down", and a fix_prot that
// notes its storage; both log to files in a temporary directory.
struct Stage {
    Stage() {
        const QString d = dir.path();
        test::write_file(
            d + QStringLiteral("/ssh"),
            "#!/bin/sh\nh=$1; shift\necho \"$h\" >> '" + QFile::encodeName(d) +
                "/ssh.log'\n"
                "if [ \"$h\" = down ]; then\n"
                "  echo \"ssh: connect to host $h port 22: Connection timed out\" >&2\n"
                "  exit 255\nfi\nexec sh -c \"$*\"\n",
            true);
        test::write_file(d + QStringLiteral("/fix_prot"),
                         "#!/bin/sh\nsleep 0.05\nfor a; do :; done\necho \"$a\" >> '" +
                             QFile::encodeName(d) + "/fix.log'\n",
                         true);
        // Made here: every "host" of this stage is this machine, and two
        // lock scripts making the one directory at once race.
        QDir(d).mkdir(QStringLiteral("locks"));
        m_locks = qgetenv("TESSALY_HOST_LOCK_DIR");
        qputenv("TESSALY_HOST_LOCK_DIR", QFile::encodeName(d + QStringLiteral("/locks")));
    }
    ~Stage() { qputenv("TESSALY_HOST_LOCK_DIR", m_locks); }

    RunSettings settings(int jobs = 1, int perHost = 1) const {
        RunSettings s;
        s.program = dir.path() + QStringLiteral("/fix_prot");
        s.arguments = {QStringLiteral("-force")};
        s.style = cc::FixProtStyle::Unix;
        s.reach.remoteShell = {dir.path() + QStringLiteral("/ssh")};
        s.reach.privilege = {QStringLiteral("env")};
        s.jobs = jobs;
        s.perHost = perHost;
        return s;
    }
    QStringList log(const char* name) const {
        QFile f(dir.path() + u'/' + QLatin1StringView(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    FakeSession session;
    QByteArray m_locks;
};

// Runs engine to its end, noting what it reported.
struct Seen {
    explicit Seen(RunEngine& engine) {
        QObject::connect(&engine, &RunEngine::viewStarted, &engine,
                         [this](const RunItem& item, ViewRepair*) {
                             started.append(item.tag);
                             ++hostsAtWork[item.host];
                             mostOnAHost = std::max(mostOnAHost, hostsAtWork[item.host]);
                             mostAtWork = std::max(mostAtWork, ++atWork);
                         });
        QObject::connect(&engine, &RunEngine::viewEnded, &engine,
                         [this](const RunItem& item, const RepairOutcome& o) {
                             --hostsAtWork[item.host];
                             --atWork;
                             ended.append(item.tag);
                             outcomes.insert(item.tag, o);
                         });
        QObject::connect(&engine, &RunEngine::viewGivenUp, &engine,
                         [this](const RunItem& item) { givenUp.append(item.tag); });
        QObject::connect(&engine, &RunEngine::finished, &engine, [this] { ++finished; });
    }
    bool wait(const RunEngine& engine) {
        return QTest::qWaitFor([&] { return finished > 0 && !engine.running(); }, 30'000);
    }
    QStringList started, ended, givenUp;
    QHash<QString, RepairOutcome> outcomes;
    QHash<QString, int> hostsAtWork;
    int atWork = 0, mostAtWork = 0, mostOnAHost = 0, finished = 0;
};

} // namespace

TEST(RunEngine, ASourceIsAskedOneViewAtATimeAndAHostLostTwiceIsGivenUp) {
    // The window's way: each next view asked for once the one before has
    // ended; views of a host given up are not started, the others go on.
    Stage s;
    const QList<std::pair<const char*, const char*>> views = {
        {"d1", "down"}, {"u1", "up"}, {"d2", "down"}, {"d3", "down"}, {"u2", "up"}, {"d4", "down"}};
    for (const auto& [tag, host] : views)
        s.session.hostOf.insert(QLatin1StringView(tag), QLatin1StringView(host));
    RunEngine engine(s.session, s.settings());
    Seen seen(engine);
    qsizetype next = 0;
    int askedWhileBusy = 0;
    engine.start([&]() -> std::optional<RunItem> {
        askedWhileBusy += engine.atWork();
        if (next == views.size())
            return std::nullopt;
        const auto& [tag, host] = views.at(next);
        return RunItem{int(next++), QLatin1StringView(tag), QLatin1StringView(host)};
    });
    ASSERT_TRUE(seen.wait(engine));
    EXPECT_EQ(askedWhileBusy, 0);
    EXPECT_EQ(next, views.size());
    EXPECT_EQ(seen.started, (QStringList{QStringLiteral("d1"), QStringLiteral("u1"),
                                         QStringLiteral("d2"), QStringLiteral("u2")}));
    EXPECT_EQ(seen.givenUp, (QStringList{QStringLiteral("d3"), QStringLiteral("d4")}));
    EXPECT_EQ(s.log("ssh.log"), (QStringList{QStringLiteral("down"), QStringLiteral("up"),
                                             QStringLiteral("down"), QStringLiteral("up")}));
    EXPECT_EQ(s.log("fix.log"),
              (QStringList{QStringLiteral("/vws/u1.vws"), QStringLiteral("/vws/u2.vws")}));
    const RepairOutcome& lost = seen.outcomes.value(QStringLiteral("d2"));
    EXPECT_EQ(lost.kind, Kind::FixProtFailed);
    EXPECT_TRUE(lost_connection(lost)) << lost.end.describe().toStdString();
    EXPECT_EQ(seen.outcomes.value(QStringLiteral("u2")).kind, Kind::Repaired);
    EXPECT_TRUE(s.session.commands.contains(QStringLiteral("endview -server u2")));
    EXPECT_FALSE(s.session.commands.contains(QStringLiteral("endview -server d1")))
        << "a UNIX fix_prot that failed is not followed by endview";
    EXPECT_EQ(seen.finished, 1);
}

TEST(RunEngine, AListKeepsTheCapsOfTheRunAndOfEachHostAndStopsAfterAFailedEndview) {
    Stage s;
    QList<RunItem> items;
    for (int i = 0; i < 8; ++i) {
        const QString tag = QStringLiteral("v%1").arg(i);
        const QString host = QStringLiteral("h%1").arg(i % 3);
        s.session.hostOf.insert(tag, host);
        items.append(RunItem{i, tag, host});
    }
    {
        RunEngine engine(s.session, s.settings(2, 1));
        Seen seen(engine);
        engine.start(items);
        ASSERT_TRUE(seen.wait(engine));
        EXPECT_EQ(seen.mostAtWork, 2);
        EXPECT_EQ(seen.mostOnAHost, 1);
        EXPECT_EQ(seen.started.size(), 8);
        EXPECT_EQ(QSet<QString>(seen.ended.cbegin(), seen.ended.cend()).size(), 8);
        for (const RepairOutcome& o : std::as_const(seen.outcomes))
            EXPECT_EQ(o.kind, Kind::Repaired) << o.message.toStdString();
    }
    // One view at a time: a failed endview starts no further view.
    s.session.failEndview.insert(QStringLiteral("v1"));
    RunEngine engine(s.session, s.settings());
    Seen seen(engine);
    engine.start(items);
    ASSERT_TRUE(seen.wait(engine));
    EXPECT_EQ(seen.started, (QStringList{QStringLiteral("v0"), QStringLiteral("v1")}));
    EXPECT_EQ(seen.outcomes.value(QStringLiteral("v1")).kind, Kind::EndviewFailed);
    EXPECT_EQ(engine.waiting(), 6);
}

TEST(RunEngine, AListAsksTheRecordsOfEachHostsViewsAtOnceAndLooksUpAloneWhatABatchMisses) {
    Stage s;
    QList<RunItem> items;
    for (const char* tag : {"a1", "a2", "a3", "b1"}) {
        s.session.hostOf.insert(QLatin1StringView(tag), QLatin1StringView(tag).left(1));
        items.append(
            RunItem{int(items.size()), QLatin1StringView(tag), QLatin1StringView(tag).left(1)});
    }
    {
        RunEngine engine(s.session, s.settings(2, 1));
        Seen seen(engine);
        engine.start(items);
        ASSERT_TRUE(seen.wait(engine));
        for (const RepairOutcome& o : std::as_const(seen.outcomes))
            EXPECT_EQ(o.kind, Kind::Repaired) << o.message.toStdString();
        EXPECT_EQ(s.session.commands.filter(QStringLiteral("lsview")),
                  (QStringList{QStringLiteral("lsview -long -properties -full a1 a2 a3"),
                               QStringLiteral("lsview -long -properties -full b1")}));
        EXPECT_EQ(s.log("fix.log").size(), 4);
    }
    // A tag cleartool does not know fails its batch: each of its views is
    // looked up alone, and only the unknown one fails, with cleartool's
    // own words.
    s.session.commands.clear();
    items.insert(1, RunItem{9, QStringLiteral("gone"), QStringLiteral("a")});
    RunEngine engine(s.session, s.settings(1, 1));
    Seen seen(engine);
    engine.start(items);
    ASSERT_TRUE(seen.wait(engine));
    EXPECT_EQ(seen.outcomes.value(QStringLiteral("gone")).kind, Kind::LookupFailed);
    EXPECT_TRUE(seen.outcomes.value(QStringLiteral("gone"))
                    .message.startsWith(QStringLiteral("cleartool: Error: No matching entries")));
    for (const char* tag : {"a1", "a2", "a3", "b1"})
        EXPECT_EQ(seen.outcomes.value(QLatin1StringView(tag)).kind, Kind::Repaired) << tag;
    EXPECT_TRUE(s.session.commands.contains(QStringLiteral("lsview a2")));
    EXPECT_TRUE(s.session.commands.contains(QStringLiteral("lsview -long -properties -full a2")));
    EXPECT_FALSE(s.session.commands.contains(QStringLiteral("lsview b1")));
}

TEST(FactBatches, EachTagGetsItsOwnWholeRecordOrNone) {
    const QString out =
        QStringLiteral("cleartool: Warning: something first\n"
                       "Tag: good \"a comment\"\n  Global path: /net/h/good.vws\n  Server host: h\n"
                       "View server access path: /st/good.vws\nOwner: dev : rwx\nGroup: g : r-x\n"
                       "  Tag: twice\n  Global path: /net/h/t.vws\n  Server host: h\n"
                       "View server access path: /st/t.vws\nOwner: dev : rwx\nGroup: g : r-x\n"
                       "Tag: twice\n  Global path: /net/h/t.vws\n  Server host: h\n"
                       "View server access path: /st/t.vws\nOwner: dev : rwx\nGroup: g : r-x\n"
                       "Tag: nogroup\n  Global path: /net/h/n.vws\n  Server host: h\n"
                       "View server access path: /st/n.vws\nOwner: dev : rwx\n"
                       "Tag: climbs\n  Global path: /net/h/../../etc\n  Server host: h\n"
                       "View server access path: /st/c.vws\nOwner: dev : rwx\nGroup: g : r-x\n"
                       "Tag: nohost\n  Global path: /net/h/x.vws\n"
                       "View server access path: /st/x.vws\nOwner: dev : rwx\nGroup: g : r-x\n");
    const QHash<QString, QString> r = FactBatches::records_by_tag(out);
    EXPECT_EQ(r.keys(), QStringList{QStringLiteral("good")});
    EXPECT_TRUE(r.value(QStringLiteral("good")).startsWith(QStringLiteral("Tag: good")));
    EXPECT_TRUE(r.value(QStringLiteral("good")).endsWith(QStringLiteral("Group: g : r-x\n")));
    EXPECT_TRUE(FactBatches::records_by_tag(QStringLiteral("garbage\n")).isEmpty());
}

TEST(ViewRepair, AFailingLookupOrLongListingStartsNothing) {
    // "gone": unknown to the short lookup. "vanishing": found by it, then
    // gone when the long listing is asked.
    Stage s;
    s.session.hostOf.insert(QStringLiteral("vanishing"), QStringLiteral("up"));
    for (const char* tag : {"gone", "vanishing"}) {
        RepairRequest r;
        r.tag = QLatin1StringView(tag);
        r.program = s.settings().program;
        r.style = cc::FixProtStyle::Unix;
        r.reach = s.settings().reach;
        ViewRepair v(s.session, r);
        bool finished = false;
        QObject::connect(&v, &ViewRepair::finished, &v, [&] { finished = true; });
        QObject::connect(&v, &ViewRepair::storageFound, &v,
                         [&] { s.session.hostOf.remove(r.tag); });
        v.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 10'000)) << tag;
        EXPECT_EQ(v.outcome().kind, Kind::LookupFailed) << tag;
        EXPECT_TRUE(v.outcome().message.startsWith(
            QStringLiteral("cleartool: Error: No matching entries found for view tag")))
            << v.outcome().message.toStdString();
    }
    EXPECT_EQ(s.session.commands,
              (QStringList{QStringLiteral("lsview gone"), QStringLiteral("lsview vanishing"),
                           QStringLiteral("lsview -long -properties -full vanishing")}));
    EXPECT_TRUE(s.log("ssh.log").isEmpty());
    EXPECT_TRUE(s.log("fix.log").isEmpty());
}
