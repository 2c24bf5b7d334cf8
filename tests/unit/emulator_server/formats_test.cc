// The database, extent and log control formats: what is written reads back
// the same, and no truncation or flipped byte is ever read as valid data.
#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "faultshim.h"
#include "formats/codec.h"
#include "formats/dbfile.h"
#include "formats/extent.h"
#include "formats/log_control.h"
#include "runtime/files.h"
#include "runtime/messages.h"

namespace {

emu::DbFile SampleDb() {
    emu::DbFile db;
    db.instanceId = emu::RandomUnid();
    db.replicaId = emu::RandomUnid();
    db.logId = emu::RandomUnid();
    db.logged = true;
    db.lastSeq = 0x1122334455ull;
    db.lastTime = 138451914000;
    db.lastExtent = 7;
    db.notes[1] = emu::Note{100, "CN=Ann", "first", false};
    db.notes[0x8000FFFF] = emu::Note{200, "", std::string("bin\0ary\n", 8), false};
    db.notes[3] = emu::Note{300, "bob", "", true};
    return db;
}

// Every header field and note of a database, as text to compare.
std::string Describe(const emu::DbFile &db) {
    std::string out = emu::UnidHex(db.instanceId) + " " + emu::UnidHex(db.replicaId) + " " +
                      emu::UnidHex(db.logId) + " " + std::to_string(db.logged) + " " +
                      std::to_string(db.lastSeq) + " " + std::to_string(db.lastTime) + " " +
                      std::to_string(db.lastExtent) + "\n";
    for (const auto &e : db.notes)
        out += std::to_string(e.first) + " " + std::to_string(e.second.modified) + " " +
               e.second.user + " [" + e.second.text + "] " + std::to_string(e.second.deleted) + "\n";
    return out;
}

TEST(DatabaseFormat, RoundTripKeepsHeaderAndEveryNote) {
    emu::DbFile db = SampleDb(), back;
    std::string bytes = emu::EncodeDb(db);
    ASSERT_EQ(emu::DecodeDb(bytes.data(), bytes.size(), &back), NOERROR);
    EXPECT_EQ(Describe(back), Describe(db));
    EXPECT_EQ(emu::LiveNoteCount(back), 2u);
}

TEST(DatabaseFormat, EveryTruncationIsRejected) {
    std::string bytes = emu::EncodeDb(SampleDb());
    for (size_t len = 0; len < bytes.size(); len++) {
        emu::DbFile out;
        STATUS st = emu::DecodeDb(bytes.data(), len, &out);
        EXPECT_TRUE(st == EMU_ERR_DB_CORRUPT || st == EMU_ERR_NOT_A_DATABASE) << "length " << len;
    }
}

TEST(DatabaseFormat, EveryFlippedByteAndTrailingGarbageIsRejected) {
    std::string bytes = emu::EncodeDb(SampleDb());
    for (size_t i = 0; i < bytes.size(); i++) {
        std::string bad = bytes;
        bad[i] ^= 0x10;
        emu::DbFile out;
        EXPECT_NE(emu::DecodeDb(bad.data(), bad.size(), &out), NOERROR) << "byte " << i;
    }
    std::string longer = bytes + "x";
    emu::DbFile out;
    EXPECT_EQ(emu::DecodeDb(longer.data(), longer.size(), &out), EMU_ERR_DB_CORRUPT);
    std::string other = "#!/bin/sh\necho not a database\n";
    EXPECT_EQ(emu::DecodeDb(other.data(), other.size(), &out), EMU_ERR_NOT_A_DATABASE);
}

TEST(DatabaseFormat, FileErrorsBecomeStatuses) {
    emu::DbHeader out;
    EXPECT_EQ(emu::CheckDb("/nonexistent/x.nsf", &out), EMU_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(emu::CheckDb("/tmp", &out), EMU_ERR_NOT_A_DATABASE);
    EXPECT_EQ(emu::WriteDb("/nonexistent/x.nsf", SampleDb()), EMU_ERR_FILE_NOT_FOUND);
}

emu::LogRecord Record(uint64_t seq, uint8_t action, const std::string &text) {
    emu::LogRecord r;
    r.seq = seq;
    r.time = 1000 + static_cast<int64_t>(seq);
    r.dbIid = emu::RandomUnid();
    r.noteId = 40 + static_cast<uint32_t>(seq);
    r.action = action;
    r.user = "user" + std::to_string(seq);
    r.text = text;
    return r;
}

// Every field of a record, as text to compare.
std::string Describe(const emu::LogRecord &r) {
    return std::to_string(r.seq) + " " + std::to_string(r.time) + " " + emu::UnidHex(r.dbIid) + " " +
           std::to_string(r.noteId) + " " + std::to_string(r.action) + " " + r.user + " " + r.text;
}

// Extent 9 of three records from sequence 17; `records` are those written.
std::string SampleExtent(std::vector<emu::LogRecord> *records) {
    *records = {Record(17, RECOVER_ACTION_ADDITION, "hello"), Record(18, RECOVER_ACTION_UNDO, ""),
                Record(19, RECOVER_ACTION_DELETION, "")};
    std::string bytes = emu::EncodeExtentHeader(emu::RandomUnid(), 9, 17);
    for (const emu::LogRecord &r : *records) bytes += emu::EncodeRecord(r);
    return bytes;
}

TEST(ExtentFormat, RoundTripKeepsRecordsInOrder) {
    std::vector<emu::LogRecord> written;
    std::string bytes = SampleExtent(&written);
    emu::Extent ext;
    ASSERT_EQ(emu::DecodeExtent(bytes.data(), bytes.size(), &ext), NOERROR);
    EXPECT_EQ(ext.number, 9u);
    EXPECT_EQ(ext.firstSeq, 17u);
    ASSERT_EQ(ext.records.size(), written.size());
    for (size_t i = 0; i < written.size(); i++)
        EXPECT_EQ(Describe(ext.records[i]), Describe(written[i])) << i;
}

TEST(ExtentFormat, TornOrFlippedRecordsAreRejected) {
    std::vector<emu::LogRecord> written;
    std::string bytes = SampleExtent(&written);
    // Where a record ends: the header's end, then each record's.
    std::set<size_t> ends = {emu::EncodeExtentHeader(emu::RandomUnid(), 9, 17).size()};
    for (const emu::LogRecord &r : written) ends.insert(*ends.rbegin() + emu::EncodeRecord(r).size());
    ASSERT_EQ(*ends.rbegin(), bytes.size());
    // The bytes past the cut are still there to be misread: a record one
    // byte longer than what is left is torn, whatever follows in memory.
    for (size_t len = 0; len < bytes.size(); len++) {
        emu::Extent ext;
        const STATUS want = ends.count(len) != 0 ? NOERROR : STATUS(EMU_ERR_LOG_CORRUPT);
        EXPECT_EQ(emu::DecodeExtent(bytes.data(), len, &ext), want) << "length " << len;
    }
    for (size_t i = 0; i < bytes.size(); i++) {
        std::string bad = bytes;
        bad[i] ^= 0x01;
        emu::Extent ext;
        EXPECT_EQ(emu::DecodeExtent(bad.data(), bad.size(), &ext), EMU_ERR_LOG_CORRUPT) << i;
    }
}

// An extent cut short on disk, its last record missing one byte, is
// damaged, not an extent that ends a record earlier.
TEST(ExtentFile, OneCutShortIsDamaged) {
    TempDir dir;
    const UNID logId = emu::RandomUnid();
    ASSERT_EQ(emu::CreateExtent(dir.path(), logId, 2, 5), NOERROR);
    // A last record that ends in a zero byte, as the terminator of the
    // read-back string that follows the cut also is.
    std::string record = emu::EncodeRecord(Record(5, RECOVER_ACTION_UPDATE, std::string("z\0", 2)));
    ASSERT_EQ(record.back(), '\0');
    ASSERT_EQ(emu::AppendFileSynced(emu::ExtentPath(dir.path(), 2), record), 0);
    emu::Extent ext;
    ASSERT_EQ(emu::ReadExtent(dir.path(), 2, &ext), NOERROR);
    ASSERT_EQ(ext.records.size(), 1u);
    ASSERT_EQ(truncate(emu::ExtentPath(dir.path(), 2).c_str(),
                       static_cast<off_t>(emu::EncodeExtentHeader(logId, 2, 5).size() +
                                          record.size() - 1)),
              0);
    EXPECT_EQ(emu::ReadExtent(dir.path(), 2, &ext), EMU_ERR_LOG_CORRUPT);
}

// The header is on disk before the extent exists for the server: a sync
// that fails leaves no extent, so the next attempt makes it afresh.
TEST(ExtentFile, ANewExtentsHeaderIsSyncedBeforeItCounts) {
    TempDir dir;
    const UNID logId = emu::RandomUnid();
    {
        FaultArmed fault("fsync", 1, "eio");
        EXPECT_EQ(emu::CreateExtent(dir.path(), logId, 3, 9), emu::FileStatus(EIO));
        EXPECT_EQ(faultshim_acted(), 1);
    }
    EXPECT_FALSE(Exists(emu::ExtentPath(dir.path(), 3)));
    ASSERT_EQ(emu::CreateExtent(dir.path(), logId, 3, 9), NOERROR);
    emu::Extent ext;
    ASSERT_EQ(emu::ReadExtent(dir.path(), 3, &ext), NOERROR);
    EXPECT_EQ(ext.firstSeq, 9u);
    EXPECT_TRUE(ext.records.empty());
}

TEST(ExtentFormat, SequenceRunsOnByOneFromTheHeadersFirstNumber) {
    UNID logId = emu::RandomUnid();
    std::string header = emu::EncodeExtentHeader(logId, 1, 5);
    emu::Extent ext;
    // An empty extent still says where its records begin.
    ASSERT_EQ(emu::DecodeExtent(header.data(), header.size(), &ext), NOERROR);
    EXPECT_EQ(ext.firstSeq, 5u);
    EXPECT_TRUE(ext.records.empty());
    std::string skips = header + emu::EncodeRecord(Record(5, RECOVER_ACTION_UPDATE, "a")) +
                        emu::EncodeRecord(Record(7, RECOVER_ACTION_UPDATE, "b"));
    EXPECT_EQ(emu::DecodeExtent(skips.data(), skips.size(), &ext), EMU_ERR_LOG_CORRUPT);
    // The first record is the one the header announces, not a later one.
    std::string late = header + emu::EncodeRecord(Record(6, RECOVER_ACTION_UPDATE, "a"));
    EXPECT_EQ(emu::DecodeExtent(late.data(), late.size(), &ext), EMU_ERR_LOG_CORRUPT);
    std::string zero = emu::EncodeExtentHeader(logId, 1, 0);
    EXPECT_EQ(emu::DecodeExtent(zero.data(), zero.size(), &ext), EMU_ERR_LOG_CORRUPT);
}

TEST(ExtentFormat, NamesAreSevenDigitsOrMoreAndNeverZero) {
    uint32_t n = 0;
    EXPECT_EQ(emu::ExtentName(42), "S0000042.TXN");
    EXPECT_EQ(emu::ExtentName(12345678), "S12345678.TXN");
    EXPECT_TRUE(emu::ParseExtentName("S0000042.TXN", &n));
    EXPECT_EQ(n, 42u);
    EXPECT_TRUE(emu::ParseExtentName("S12345678.TXN", &n));
    EXPECT_EQ(n, 12345678u);
    for (const char *bad : {"S0000000.TXN", "S000042.TXN", "S0000042.txn", "S00000042.TXN",
                            "S0000042.TXNx", "nlogctrl.lfh", "S00000a2.TXN", "S4294967296.TXN"})
        EXPECT_FALSE(emu::ParseExtentName(bad, &n)) << bad;
}

TEST(LogControlFormat, RoundTripAndDamageRejected) {
    emu::LogControl ctl;
    ctl.logId = emu::RandomUnid();
    ctl.current = 12;
    ctl.nextSeq = 45;
    ctl.archived = {1, 2, 5};
    std::string bytes = emu::EncodeControl(ctl);
    emu::LogControl back;
    ASSERT_EQ(emu::DecodeControl(bytes.data(), bytes.size(), &back), NOERROR);
    EXPECT_TRUE(emu::UnidEqual(back.logId, ctl.logId));
    EXPECT_EQ(back.current, 12u);
    EXPECT_EQ(back.nextSeq, 45u);
    EXPECT_EQ(back.archived, ctl.archived);
    for (size_t len = 0; len < bytes.size(); len++)
        EXPECT_EQ(emu::DecodeControl(bytes.data(), len, &back), EMU_ERR_LOGCTRL_CORRUPT) << len;
    for (size_t i = 0; i < bytes.size(); i++) {
        std::string bad = bytes;
        bad[i] ^= 0x80;
        EXPECT_EQ(emu::DecodeControl(bad.data(), bad.size(), &back), EMU_ERR_LOGCTRL_CORRUPT) << i;
    }
}

TEST(AtomicWrite, ReplacesWholeFileAndReportsFolderErrors) {
    TempDir dir;
    std::string path = dir / "f";
    ASSERT_EQ(emu::WriteFileAtomic(path, "first version, longer", 0600), 0);
    ASSERT_EQ(emu::WriteFileAtomic(path, "second"), 0);
    std::string got;
    ASSERT_EQ(emu::ReadWholeFile(path, &got, 100), 0);
    EXPECT_EQ(got, "second");
    EXPECT_EQ(emu::ReadWholeFile(path, &got, 3), EFBIG);
    EXPECT_EQ(emu::WriteFileAtomic("/proc/emu-no-such/f", "x"), ENOENT);
}

}  // namespace
