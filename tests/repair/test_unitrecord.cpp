// SPDX-License-Identifier: Apache-2.0
// The records repair units leave for a later run: what a record left by a
// unit cut short owes, and what is no record at all.
#include "qtprint.h"
#include "repair/unitrecord.h"
#include "temphome.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace tsy;
using repair::UnitRecord;

namespace {
// The head a unit writes when it starts.
const QByteArray kHead = "tessaly-unit 1\ntag=rel\\\\a\\nb\nlock=/locks/h.lock\n"
                         "started=2026-05-01T01:00:00Z\n";
} // namespace

TEST(UnitRecord, AUnitCutShortAfterFixProtSucceededOwesTheEndviewAndKeepsItsRecord) {
    QTemporaryDir dir;
    const QString cut = dir.path() + QStringLiteral("/cut.unit");
    const QString done = dir.path() + QStringLiteral("/done.unit");
    ASSERT_TRUE(
        test::write_file(cut, kHead + "fix_prot=exit 0\nfix_prot_ended=2026-05-01T01:05:00Z\n"));
    ASSERT_TRUE(test::write_file(done, "tessaly-unit 1\ntag=other\nstarted=s\nfix_prot=exit 0\n"
                                       "endview=exit 1\nendview_message=  no server \n"
                                       "ended=e\n"));
    const QList<UnitRecord> records = repair::take_unit_records(dir.path());
    ASSERT_EQ(records.size(), 2);
    const UnitRecord& c = records[0].tag == QStringLiteral("other") ? records[1] : records[0];
    const UnitRecord& d = records[0].tag == QStringLiteral("other") ? records[0] : records[1];
    EXPECT_EQ(c.tag, QStringLiteral("rel\\a\nb")); // as the unit escaped it
    EXPECT_TRUE(c.endviewOwed());
    EXPECT_FALSE(c.repairDue());
    EXPECT_EQ(c.file, cut);
    EXPECT_TRUE(QFile::exists(cut)); // until the endview is done
    EXPECT_EQ(c.describe(), QStringLiteral("ended before finishing, after the run that started it "
                                           "had ended: rel\\\\a\\nb: fix_prot exit 0, endview "
                                           "never ran (started 2026-05-01T01:00:00Z)"));
    // A finished record owes nothing: read once, reported, removed.
    EXPECT_FALSE(d.endviewOwed());
    EXPECT_FALSE(d.repairDue());
    EXPECT_EQ(d.endviewMessage, QStringLiteral("no server"));
    EXPECT_FALSE(QFile::exists(done));
}

TEST(UnitRecord, AUnitThatNeverReportedIsLeftAloneWhileAtWorkThenTheViewIsDueForRepair) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/unit.unit");
    ASSERT_TRUE(test::write_file(path, kHead));
    // Its unit still holds the record, as a unit at work does.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_TRUE(repair::take_unit_records(dir.path()).isEmpty());
    ::close(fd);
    const QList<UnitRecord> records = repair::take_unit_records(dir.path());
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(records[0].repairDue());
    EXPECT_FALSE(records[0].endviewOwed());
    EXPECT_TRUE(records[0].describe().contains(QStringLiteral("fix_prot never reported")));
    EXPECT_TRUE(QFile::exists(path));
}

TEST(UnitRecord, GarbledOrForeignFilesAreNoRecordsAndOldOnesAreCleared) {
    for (const QByteArray& text :
         {QByteArray("tessaly-unit 2\ntag=v\nfix_prot=exit 0\n"), QByteArray("tag=v\n"),
          QByteArray("\xff\xfe garbage"), QByteArray()})
        EXPECT_TRUE(repair::parse_unit_record(text).tag.isEmpty()) << text.toStdString();

    // A unit that has only just made its record may not have written it:
    // a fresh foreign file stays, an old one goes; neither is reported.
    QTemporaryDir dir;
    const QString fresh = dir.path() + QStringLiteral("/fresh.unit");
    const QString old = dir.path() + QStringLiteral("/old.unit");
    ASSERT_TRUE(test::write_file(fresh, "not a record"));
    ASSERT_TRUE(test::write_file(old, "tessaly-unit 2\ntag=v\n"));
    QFile f(old);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-120),
                              QFileDevice::FileModificationTime));
    f.close();
    EXPECT_TRUE(repair::take_unit_records(dir.path()).isEmpty());
    EXPECT_TRUE(QFile::exists(fresh));
    EXPECT_FALSE(QFile::exists(old));
}
