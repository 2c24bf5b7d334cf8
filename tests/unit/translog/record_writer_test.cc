// The writer of a run's archive record: it records only what the records
// do not already say, in one record per run, through the storage's durable
// writes.
#include "translog/record_writer.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "common/temp_dir.h"
#include "faultshim.h"
#include "storage/folder_storage.h"
#include "record_lines.h"
#include "support/sha256.h"
#include "translog/archive_record.h"

using namespace nsfmend;  // the module under test

TEST(ArchiveRecordWriter, RecordsWhatIsNotSaidYetInOneRecordPerRun) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one"));
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN", "tw"));
    {
        FolderStorage storage(dir.path() + "/", dir.path());
        ArchiveRecordWriter writer(storage);
        ASSERT_TRUE(writer.add("S0000001.TXN", nullptr, kLog).isOk());
        ASSERT_TRUE(writer.write().isOk());
        ASSERT_TRUE(writer.add("S0000002.TXN", nullptr, "").isOk());
        ASSERT_TRUE(writer.add("S0000002.TXN", nullptr, "").isOk());  // the same bytes: one line
        ASSERT_TRUE(writer.write().isOk());
        EXPECT_TRUE(writer.write().isOk());  // nothing new: nothing written
    }
    ArchiveRecords records;
    ASSERT_EQ(0, readArchiveRecords(dir.path().c_str(), &records));
    ASSERT_EQ(1u, records.records.size());
    EXPECT_EQ(2u, records.latest.size());
    EXPECT_EQ(kLog, records.latest["S0000001.TXN"].entry.logId);
    struct stat st;
    ASSERT_EQ(0, stat((dir / records.records[0]).c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 0777);

    // The next run: what the records say already is not said again (a
    // capture of the very bytes keeps the line with the log ID); a grown
    // file gets a line in a record of its own, later by name even within the
    // same second.
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN", "two"));
    {
        FolderStorage storage(dir.path() + "/", dir.path());
        ArchiveRecordWriter writer(storage);
        ASSERT_TRUE(writer.add("S0000001.TXN", nullptr, "").isOk());
        ASSERT_TRUE(writer.write().isOk());
        EXPECT_EQ(3u, FolderNames(dir.path()).size());  // no second record
        ASSERT_TRUE(writer.add("S0000002.TXN", nullptr, kLog).isOk());
        ASSERT_TRUE(writer.write().isOk());
    }
    ASSERT_EQ(0, readArchiveRecords(dir.path().c_str(), &records));
    ASSERT_EQ(2u, records.records.size());
    EXPECT_EQ(records.records[1], records.latest["S0000002.TXN"].record);
    EXPECT_EQ(sha256Hex("two"), records.latest["S0000002.TXN"].entry.sha256);
    EXPECT_EQ(kLog, records.latest["S0000001.TXN"].entry.logId);
    EXPECT_EQ("S0000001.TXN:matches S0000002.TXN:matches", Findings(Check(dir)));
}

TEST(ArchiveRecordWriter, AFailedWriteLeavesNoRecordAndIsTriedAgain) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one"));
    FolderStorage storage(dir.path() + "/", dir.path());
    ArchiveRecordWriter writer(storage);
    ASSERT_TRUE(writer.add("S0000001.TXN", nullptr, "").isOk());
    {
        FaultArmed fault("write", 1, "enospc");
        EXPECT_EQ(ENOSPC, writer.write().error());
    }
    EXPECT_EQ(std::set<std::string>{"S0000001.TXN"}, FolderNames(dir.path()));
    ASSERT_TRUE(writer.write().isOk());
    EXPECT_EQ("S0000001.TXN:matches", Findings(Check(dir)));
    EXPECT_EQ(ENOENT, writer.add("S0000009.TXN", nullptr, "").error());
}

TEST(ArchiveRecordWriter, ANewRecordSortsAfterEveryOneThereEvenWhenTheClockWentBack) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one, grown"));
    // Written while the clock was ahead (within what a 32-bit time holds):
    // its line would otherwise stay in force.
    Record(dir, "nsfmend-archive-20371231T235959Z.sha256", {Entry("S0000001.TXN", "one")});
    FolderStorage storage(dir.path() + "/", dir.path());
    ArchiveRecordWriter writer(storage);
    ASSERT_TRUE(writer.add("S0000001.TXN", nullptr, "").isOk());
    ASSERT_TRUE(writer.write().isOk());
    ArchiveRecords records;
    ASSERT_EQ(0, readArchiveRecords(dir.path().c_str(), &records));
    ASSERT_EQ(2u, records.records.size());
    EXPECT_EQ("nsfmend-archive-20380101T000000Z.sha256", records.records[1]);
    EXPECT_EQ(sha256Hex("one, grown"), records.latest["S0000001.TXN"].entry.sha256);
}
