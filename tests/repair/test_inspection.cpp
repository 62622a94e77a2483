// SPDX-License-Identifier: Apache-2.0
// The verdict on a storage from the inspection's records, the text
// that names what needs repair, and the answers of a batch of storages.
#include "qtprint.h"
#include "repair/fixprot.h"
#include "repair/inspectbatch.h"
#include "repair/inspection.h"
#include "repair/runlocks.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

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

TEST(InspectionBatches, EachStorageGetsWhatItsOwnInspectionSaysHoweverTheOutputArrives) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto made = [&](const QString& name, const QByteArray& file, QFile::Permissions p) {
        QDir(dir.path()).mkpath(name + QStringLiteral("/db"));
        QFile f(dir.filePath(name + u'/' + QString::fromUtf8(file)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << file.constData();
        f.close();
        f.setPermissions(p);
        return dir.filePath(name);
    };
    const QFile::Permissions rw = QFile::ReadOwner | QFile::WriteOwner;
    const QString odd =
        made(QStringLiteral("odd"), "tab\there\nand a line", rw | QFile::WriteOther);
    const QString plain = made(QStringLiteral("plain"), ".view", rw);
    const QString notView = dir.filePath(QStringLiteral("not a view"));
    QDir(dir.path()).mkpath(QStringLiteral("not a view"));
    const QString missing = dir.filePath(QStringLiteral("missing"));

    const QString owner = QString::fromLocal8Bit(qgetenv("USER"));
    QProcess id;
    id.start(QStringLiteral("id"), {QStringLiteral("-gn")});
    ASSERT_TRUE(id.waitForFinished());
    const QString group = QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed();
    const QString self = owner.isEmpty() ? QStringLiteral("root") : owner;

    const auto run = [](const QStringList& words) {
        QProcess p;
        p.start(words.first(), words.mid(1));
        EXPECT_TRUE(p.waitForFinished(20'000));
        InspectionEnd e;
        e.exitCode = p.exitCode();
        e.out = p.readAllStandardOutput();
        e.err = p.readAllStandardError();
        return e;
    };
    const repair::Reach here;
    const QString lockDir = dir.filePath(QStringLiteral("locks"));
    QList<repair::InspectTarget> targets;
    QList<InspectionEnd> alone;
    for (const QString& s : {odd, missing, plain, notView}) {
        targets.append({QFileInfo(s).fileName(), QString(), s, self, group});
        alone.append(run(repair::inspection_words(here, QString(), s, self, group, lockDir,
                                                  repair::host_lock_name(s))));
    }
    EXPECT_EQ(alone[1].exitCode, 3);
    EXPECT_EQ(alone[3].exitCode, 6);
    EXPECT_TRUE(alone[0].out.contains("tab\there\nand a line")) << alone[0].out.constData();

    const InspectionEnd batch = run(repair::InspectionBatches::words(here, targets, lockDir));
    EXPECT_EQ(batch.exitCode, 0) << batch.err.constData();
    // Read whole, and read a byte at a time as a slow connection gives it.
    for (const qsizetype piece : {batch.out.size(), qsizetype(1)}) {
        QByteArray pending;
        QList<InspectionEnd> got;
        for (qsizetype at = 0; at < batch.out.size(); at += piece) {
            pending += batch.out.mid(at, piece);
            got += repair::InspectionBatches::takeAnswers(pending);
        }
        EXPECT_TRUE(pending.isEmpty());
        ASSERT_EQ(got.size(), alone.size()) << piece;
        for (qsizetype i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].exitCode, alone[i].exitCode) << i;
            EXPECT_EQ(got[i].out, alone[i].out) << i;
            EXPECT_EQ(got[i].err.trimmed(), alone[i].err.trimmed()) << i;
        }
    }
}

TEST(InspectionBatches, WhatABatchHoldsForViewsToComeIsBoundedAndTheRestIsReadAlone) {
    // Four storages of about 110 KiB of records each: the first view takes
    // its answer at once, the next two are held, and the fourth would take
    // the batch past its limit.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess id;
    id.start(QStringLiteral("id"), {QStringLiteral("-gn")});
    ASSERT_TRUE(id.waitForFinished());
    const QString group = QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed();
    const QString owner =
        qEnvironmentVariableIsSet("USER") ? qEnvironmentVariable("USER") : QStringLiteral("root");
    const QString longName(200, u'x');
    QList<repair::InspectTarget> targets;
    for (const QString& tag :
         {QStringLiteral("v1"), QStringLiteral("v2"), QStringLiteral("v3"), QStringLiteral("v4")}) {
        const QString storage = dir.filePath(tag);
        ASSERT_TRUE(QDir().mkpath(storage + QStringLiteral("/db")));
        for (int i = 0; i < 500; ++i) {
            QFile f(storage + QStringLiteral("/db/") + longName + QString::number(i));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::WriteOther);
        }
        targets.append({tag, QString(), storage, owner, group});
    }
    repair::InspectionBatches batches(
        repair::Reach(), [&](const repair::InspectTarget&, int) { return targets.mid(1); });
    QObject ctx;
    QMap<QString, std::optional<InspectionEnd>> got;
    const auto ask = [&](int i) {
        return batches.want(targets[i], &ctx, [&got, tag = targets[i].tag](auto e) {
            got.insert(tag, std::move(e));
        });
    };
    ASSERT_TRUE(ask(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.contains(QStringLiteral("v1")); }, 20'000));
    // The fourth is asked while the batch reads: it is told to read alone.
    ASSERT_TRUE(ask(3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.contains(QStringLiteral("v4")); }, 20'000));
    EXPECT_FALSE(got.value(QStringLiteral("v4")).has_value());
    ASSERT_TRUE(ask(1));
    ASSERT_TRUE(ask(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.size() == 4; }, 20'000));
    for (const char* tag : {"v1", "v2", "v3"}) {
        const std::optional<InspectionEnd>& e = got.value(QLatin1StringView(tag));
        ASSERT_TRUE(e.has_value()) << tag;
        EXPECT_EQ(e->exitCode, 0) << tag << e->err.constData();
        EXPECT_GT(e->out.size(), 100'000) << tag;
    }
}
