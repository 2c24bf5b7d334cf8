// Archive records: names that sort by time and are never an extent's, text
// that sha256sum reads and that comes back as written, the latest line of a
// name in force, a folder's files against its records, and the writer that
// records only what the records do not already say, through the durable
// layer.
#include "translog/archive_record.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "faultshim.h"
#include "support/sha256.h"

using namespace nsfmend;  // the module under test

namespace {

RecordEntry Entry(const std::string &name, const std::string &content, const std::string &logId = "") {
    RecordEntry entry;
    entry.name = name;
    entry.sha256 = sha256Hex(content);
    entry.size = content.size();
    entry.logId = logId;
    return entry;
}

const char kLog[] = "00C2B1A4000000010000000200000003";

// "name:match" for each finding, joined with " ".
std::string Findings(const RecordCheck &check) {
    static const char *const kNames[] = {"matches", "grown", "differs", "unreadable", "missing",
                                         "unrecorded"};
    std::string out;
    for (const RecordFinding &f : check.findings)
        out += (out.empty() ? "" : " ") + f.name + ":" + kNames[(int)f.match];
    return out;
}

RecordCheck Check(const TempDir &dir, ExtentNames names = ExtentNames::kAnySuffix) {
    RecordCheck check;
    EXPECT_EQ(0, checkArchiveRecords(dir.path().c_str(), names, &check));
    return check;
}

void Record(const TempDir &dir, const std::string &name, const std::vector<RecordEntry> &entries) {
    ASSERT_TRUE(WriteFile(dir / name, formatRecord(entries)));
}

}  // namespace

TEST(ArchiveRecordName, SortsByTimeAndIsNeverAnExtentOrHidden) {
    EXPECT_EQ("nsfmend-archive-20131115T120000Z.sha256", archiveRecordName(1384516800));
    time_t stamp = 0;
    EXPECT_TRUE(parseArchiveRecordName("nsfmend-archive-20131115T120000Z.sha256", &stamp));
    EXPECT_EQ(1384516800, stamp);
    EXPECT_LT(archiveRecordName(1384516800), archiveRecordName(1384516801));
    EXPECT_LT(archiveRecordName(999999999), archiveRecordName(1000000000));
    DWORD number = 0;
    std::string_view suffix;
    EXPECT_FALSE(parseExtentName(archiveRecordName(1384516800), &number, &suffix));
    EXPECT_NE('.', archiveRecordName(0)[0]);
    for (const char *other : {"nsfmend-archive-20131131T120000Z.sha256",  // no 31 November
                              "nsfmend-archive-20131115T120000Z.sha256~",
                              "nsfmend-archive-2013111T120000Z.sha256", "S0000001.TXN",
                              ".nsfmend-archive-20131115T120000Z.sha256.nsfmend-0badc0de"})
        EXPECT_FALSE(parseArchiveRecordName(other, nullptr)) << other;
}

TEST(ArchiveRecordText, ComesBackAsWrittenAndSha256sumCanReadIt) {
    const std::vector<RecordEntry> entries = {Entry("S0000001.TXN", "one", kLog),
                                              Entry("S0000002.TXN-x", "two"),
                                              Entry("S0000003.TXN\\new\nline\r", "three", kLog)};
    const std::string text = formatRecord(entries);
    EXPECT_EQ(0u, text.find("# nsfmend archive record 1: sha256sum -c <record> checks it in its folder\n"
                            "# size 3 log " + std::string(kLog) + "\n" + sha256Hex("one") +
                            "  S0000001.TXN\n# size 3\n" + sha256Hex("two") + "  S0000002.TXN-x\n"));
    // sha256sum's escaping: a leading backslash, then \\, \n and \r.
    EXPECT_NE(std::string::npos, text.find("\\" + sha256Hex("three") + "  S0000003.TXN\\\\new\\nline\\r\n"));
    std::vector<RecordEntry> back;
    ASSERT_EQ(0u, parseRecord(text, &back));
    ASSERT_EQ(3u, back.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].name, back[i].name);
        EXPECT_EQ(entries[i].sha256, back[i].sha256);
        EXPECT_EQ(entries[i].size, back[i].size);
        EXPECT_EQ(entries[i].logId, back[i].logId);
    }
    UNID id = {{0x00C2B1A4, 1, 2, 3}};
    EXPECT_EQ(kLog, logIdText(id));
}

TEST(ArchiveRecordText, DamageIsFoundAtItsLine) {
    const std::string good = formatRecord({Entry("S0000001.TXN", "one", kLog)});
    std::vector<RecordEntry> entries;
    EXPECT_EQ(3u, parseRecord(good.substr(0, good.size() - 1), &entries));  // cut short
    EXPECT_EQ(1u, parseRecord("", &entries));
    EXPECT_EQ(1u, parseRecord("# another program's\n", &entries));
    const std::string header = good.substr(0, good.find('\n') + 1);
    const std::string sum = sha256Hex("one");
    EXPECT_EQ(2u, parseRecord(header + sum + "  S0000001.TXN\n", &entries));  // no size line
    EXPECT_EQ(3u, parseRecord(header + "# size 3\n" + sum.substr(1) + "  S0000001.TXN\n", &entries));
    EXPECT_EQ(3u, parseRecord(header + "# size 3\n" + sum + "  ../S0000001.TXN\n", &entries));
    EXPECT_EQ(2u, parseRecord(header + "# size 3x\n", &entries));
    EXPECT_EQ(2u, parseRecord(header + "# size 3 log 12\n", &entries));
    EXPECT_EQ(3u, parseRecord(header + "# size 3\n\n", &entries));
    EXPECT_EQ(2u, parseRecord(header + "# size 3\n", &entries));  // a size without its line
    // Comments and sha256sum's binary mark are no damage.
    EXPECT_EQ(0u, parseRecord(header + "# a note\n# size 3\n" + sum + " *S0000001.TXN\n", &entries));
    EXPECT_EQ(1u, entries.size());
}

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

TEST(ArchiveRecordWriter, RecordsWhatIsNotSaidYetInOneRecordPerRun) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one"));
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN", "tw"));
    UNID id = {{0x00C2B1A4, 1, 2, 3}};
    {
        ArchiveRecordWriter writer;
        ASSERT_EQ(0, writer.add(dir / "S0000001.TXN", &id));
        ASSERT_EQ(0, writer.write());
        ASSERT_EQ(0, writer.add(dir / "S0000002.TXN", nullptr));
        ASSERT_EQ(0, writer.add(dir / "S0000002.TXN", nullptr));  // the same bytes: one line
        ASSERT_EQ(0, writer.write());
        EXPECT_EQ(0, writer.write());  // nothing new: nothing written
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
        ArchiveRecordWriter writer;
        ASSERT_EQ(0, writer.add(dir / "S0000001.TXN", nullptr));
        ASSERT_EQ(0, writer.write());
        EXPECT_EQ(3u, FolderNames(dir.path()).size());  // no second record
        ASSERT_EQ(0, writer.add(dir / "S0000002.TXN", &id));
        ASSERT_EQ(0, writer.write());
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
    ArchiveRecordWriter writer;
    ASSERT_EQ(0, writer.add(dir / "S0000001.TXN", nullptr));
    {
        FaultArmed fault("write", 1, "enospc");
        EXPECT_EQ(ENOSPC, writer.write());
    }
    EXPECT_EQ(std::set<std::string>{"S0000001.TXN"}, FolderNames(dir.path()));
    ASSERT_EQ(0, writer.write());
    EXPECT_EQ("S0000001.TXN:matches", Findings(Check(dir)));
    EXPECT_EQ(ENOENT, writer.add(dir / "S0000009.TXN", nullptr));
}

TEST(ArchiveRecordWriter, ANewRecordSortsAfterEveryOneThereEvenWhenTheClockWentBack) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one, grown"));
    // Written while the clock was ahead (within what a 32-bit time holds):
    // its line would otherwise stay in force.
    Record(dir, "nsfmend-archive-20371231T235959Z.sha256", {Entry("S0000001.TXN", "one")});
    ArchiveRecordWriter writer;
    ASSERT_EQ(0, writer.add(dir / "S0000001.TXN", nullptr));
    ASSERT_EQ(0, writer.write());
    ArchiveRecords records;
    ASSERT_EQ(0, readArchiveRecords(dir.path().c_str(), &records));
    ASSERT_EQ(2u, records.records.size());
    EXPECT_EQ("nsfmend-archive-20380101T000000Z.sha256", records.records[1]);
    EXPECT_EQ(sha256Hex("one, grown"), records.latest["S0000001.TXN"].entry.sha256);
}
