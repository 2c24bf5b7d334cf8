// Archive records of a folder: the latest line of a name in force, and a
// folder's files against its records, each read once.
#include "translog/archive_record.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "faultshim.h"
#include "record_lines.h"
#include "support/sha256.h"

using namespace nsfmend;  // the module under test

TEST(ArchiveRecords, TheLatestRecordsLineForANameIsInForce) {
    TempDir dir;
    Record(dir, "nsfmend-archive-20131115T120000Z.sha256",
           {Entry("S0000001.TXN", "one", kLog), Entry("S0000002.TXN", "tw")});
    Record(dir, "nsfmend-archive-20131115T130000Z.sha256", {Entry("S0000002.TXN", "two", kLog)});
    ASSERT_TRUE(WriteFile(dir / "nsfmend-archive-20131115T140000Z.sha256", "garbage\n"));
    ArchiveRecords records;
    ASSERT_EQ(0, readArchiveRecords(dir.path().c_str(), &records));
    EXPECT_EQ(3u, records.records.size());
    ASSERT_EQ(1u, records.faults.size());
    EXPECT_EQ("nsfmend-archive-20131115T140000Z.sha256", records.faults[0].record);
    EXPECT_EQ(1u, records.faults[0].line);
    ASSERT_EQ(2u, records.latest.size());
    EXPECT_EQ(sha256Hex("two"), records.latest["S0000002.TXN"].entry.sha256);
    EXPECT_EQ("nsfmend-archive-20131115T130000Z.sha256", records.latest["S0000002.TXN"].record);
    EXPECT_EQ("nsfmend-archive-20131115T120000Z.sha256", records.latest["S0000001.TXN"].record);
}

TEST(ArchiveRecordCheck, EachFileAgainstItsLine) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one"));
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN", "twX"));          // damaged
    ASSERT_TRUE(WriteFile(dir / "S0000003.TXN", "three, more"));  // grown since
    ASSERT_TRUE(WriteFile(dir / "S0000005.TXN", "five"));         // never recorded
    ASSERT_TRUE(WriteFile(dir / "S0000005.TXN.bak", "editor"));   // a suffix no run used
    ASSERT_TRUE(MakeDir(dir / "S0000006.TXN"));                   // a folder
    ASSERT_TRUE(WriteFile(dir / "S0000007.TXN", "seve"));         // cut short
    Record(dir, "nsfmend-archive-20131115T120000Z.sha256",
           {Entry("S0000001.TXN", "one", kLog), Entry("S0000002.TXN", "two", kLog),
            Entry("S0000003.TXN", "three"), Entry("S0000004.TXN", "four", kLog),
            Entry("S0000007.TXN", "seven", kLog)});
    const RecordCheck check = Check(dir);
    EXPECT_EQ("S0000001.TXN:matches S0000002.TXN:differs S0000003.TXN:grown "
              "S0000005.TXN:unrecorded S0000007.TXN:differs S0000004.TXN:missing",
              Findings(check));
    EXPECT_EQ(3u, check.findings[1].size);
    EXPECT_EQ(4u, check.findings[4].size);
    EXPECT_EQ(5u, check.findings[4].recordedSize);
    ASSERT_EQ(1u, check.logs.size());
    EXPECT_EQ(kLog, check.logs[0].logId);
    EXPECT_EQ("S0000001.TXN", check.logs[0].firstExtent);
}

TEST(ArchiveRecordCheck, AnUnrecordedCopyIsComparedWithItsExtentsRecordedCopies) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN-a", "one, whole"));
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN-b", "one, whole"));  // a's copy
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN-a", "two"));
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN-b", "tWo"));
    Record(dir, "nsfmend-archive-20131115T120000Z.sha256",
           {Entry("S0000001.TXN-a", "one", kLog), Entry("S0000002.TXN-a", "two", kLog)});
    // -b is a suffix no run used: those are no extents of the archive.
    EXPECT_EQ("S0000001.TXN-a:grown S0000002.TXN-a:matches", Findings(Check(dir)));
    Record(dir, "nsfmend-archive-20131115T130000Z.sha256", {Entry("S0000003.TXN-b", "x")});
    EXPECT_EQ("S0000001.TXN-a:grown S0000001.TXN-b:grown S0000002.TXN-a:matches "
              "S0000002.TXN-b:differs S0000003.TXN-b:missing",
              Findings(Check(dir)));
}

TEST(ArchiveRecordCheck, TheLogDirectoryIsJudgedByItsBareExtents) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one"));
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN", "two"));
    ASSERT_TRUE(WriteFile(dir / "S0000004.TXN", "four"));  // the server's newest, unrecorded
    Record(dir, "nsfmend-archive-20131115T120000Z.sha256",
           {Entry("S0000001.TXN-full", "one", kLog), Entry("S0000002.TXN", "two", kLog),
            Entry("S0000003.TXN-full", "three", kLog), Entry("notes.log", "other")});
    // S0000001.TXN stands for its recorded copy; S0000003 is lost; a
    // recorded file that is no extent is not the server's business.
    EXPECT_EQ("S0000001.TXN:matches S0000002.TXN:matches S0000004.TXN:unrecorded "
              "S0000003.TXN-full:missing",
              Findings(Check(dir, ExtentNames::kBare)));
}

TEST(ArchiveRecordCheck, AFileThatCannotBeReadIsSaidSo) {
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "S0000001.TXN").c_str(), 0600));
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN", "two"));
    Record(dir, "nsfmend-archive-20131115T120000Z.sha256",
           {Entry("S0000001.TXN", "one", kLog), Entry("S0000002.TXN", "two", kLog)});
    RecordCheck check = Check(dir);
    EXPECT_EQ("S0000001.TXN:unreadable S0000002.TXN:matches", Findings(check));
    EXPECT_EQ(EINVAL, check.findings[0].error);
    {
        // The record's read and the one that finds its end come first.
        FaultArmed fault("read", 3, "eio");
        check = Check(dir);
    }
    EXPECT_EQ(EIO, check.findings[1].error);
}

