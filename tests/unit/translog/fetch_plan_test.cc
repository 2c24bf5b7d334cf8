// Which extents a fetch takes, from an archive's listing and records alone:
// every recorded extent from the first, or with a cut-off those the records
// up to the first run after it list; each from the copies there with their
// recorded size, the longest first; gaps and copies that are not there said.
#include "translog/fetch_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nsfmend;  // the module under test

namespace {

// A record of the given time listing name:size pairs (sha256 from the name).
struct Lines {
    time_t stamp;
    std::vector<std::pair<std::string, uint64_t>> files;
};

ArchiveRecords Records(const std::vector<Lines> &runs) {
    ArchiveRecords records;
    for (const Lines &run : runs) {
        const std::string record = archiveRecordName(run.stamp);
        records.records.push_back(record);
        for (const auto &[name, size] : run.files) {
            RecordEntry entry;
            entry.name = name;
            entry.size = size;
            entry.sha256 = std::string(64, 'a');
            entry.logId = "00C2B1A4000000010000000200000003";
            records.latest[name] = RecordedFile{entry, record};
            records.named[record].push_back(name);
        }
    }
    return records;
}

std::vector<StoredEntry> Listing(const std::vector<std::pair<std::string, uint64_t>> &files) {
    std::vector<StoredEntry> entries;
    for (const auto &[name, size] : files) {
        StoredEntry entry;
        entry.name = name;
        entry.kind = StoredKind::kRegular;
        entry.size = size;
        entries.push_back(entry);
    }
    return entries;
}

// "S0000001.TXN<-name,name" for each extent taken, joined with " ".
std::string Taken(const FetchSelection &selection) {
    std::string out;
    for (const FetchExtent &extent : selection.extents) {
        out += (out.empty() ? "" : " ") + extentName(extent.number) + "<-";
        for (size_t i = 0; i < extent.copies.size(); ++i)
            out += (i == 0 ? "" : ",") + extent.copies[i].name;
    }
    return out;
}

const time_t kNine = 1384506000;  // 2013-11-15 09:00 UTC

TEST(FetchPlan, TakesEveryRecordedExtentLongestCopyFirst) {
    const ArchiveRecords records =
        Records({{kNine, {{"S0000001.TXN", 10}, {"S0000002.TXN.a", 4}}},
                 {kNine + 3600, {{"S0000002.TXN.b", 8}, {"S0000002.TXN.c", 8}, {"S0000003.TXN", 5}}}});
    const FetchSelection selection = selectExtents(
        Listing({{"S0000001.TXN", 10}, {"S0000002.TXN.a", 4}, {"S0000002.TXN.b", 8},
                 {"S0000002.TXN.c", 8}, {"S0000003.TXN", 5}, {"S0000009.TXN", 1}}),
        records, -1);
    ASSERT_TRUE(selection.any);
    // An extent no record lists (S0000009) is never taken.
    EXPECT_EQ("S0000001.TXN<-S0000001.TXN S0000002.TXN<-S0000002.TXN.b,S0000002.TXN.c,S0000002.TXN.a "
              "S0000003.TXN<-S0000003.TXN",
              Taken(selection));
    EXPECT_EQ(1u, selection.first);
    EXPECT_EQ(3u, selection.last);
    EXPECT_TRUE(selection.missing.empty());
    EXPECT_TRUE(selection.unfit.empty());
    EXPECT_TRUE(selection.boundingRecord.empty());
    ASSERT_EQ(1u, selection.logs.size());
}

TEST(FetchPlan, ACutOffTakesWhatTheRunsUpToTheFirstAfterItList) {
    const ArchiveRecords records = Records({{kNine, {{"S0000001.TXN", 1}, {"S0000002.TXN", 1}}},
                                            {kNine + 3600, {{"S0000003.TXN", 1}}},
                                            {kNine + 7200, {{"S0000004.TXN", 1}, {"S0000005.TXN", 1}}}});
    const auto listing = Listing({{"S0000001.TXN", 1}, {"S0000002.TXN", 1}, {"S0000003.TXN", 1}});
    const struct {
        time_t cutOff;
        DWORD last;
        const char *bound;  // "" for none
    } cases[] = {
        {kNine - 60, 2, "nsfmend-archive-20131115T090000Z.sha256"},       // before every run
        {kNine, 2, "nsfmend-archive-20131115T090000Z.sha256"},            // at a run
        {kNine + 1, 3, "nsfmend-archive-20131115T100000Z.sha256"},        // between runs
        {kNine + 7200, 5, "nsfmend-archive-20131115T110000Z.sha256"},
        {kNine + 7201, 5, ""},                                            // after the last
        {-1, 5, ""},                                                      // none
    };
    for (const auto &c : cases) {
        const FetchSelection selection = selectExtents(listing, records, c.cutOff);
        EXPECT_EQ(c.last, selection.last) << c.cutOff;
        EXPECT_EQ(c.bound, selection.boundingRecord) << c.cutOff;
        // Extents 4 and 5 are not there: a failure only when they are needed.
        EXPECT_EQ(c.last > 3 ? 2u : 0u, selection.unfit.size()) << c.cutOff;
    }
}

TEST(FetchPlan, GapsAndCopiesNotThereAsRecordedAreSaid) {
    const ArchiveRecords records = Records(
        {{kNine, {{"S0000001.TXN", 3}, {"S0000002.TXN", 3}, {"S0000002.TXN.x", 3}, {"S0000005.TXN", 3}}}});
    std::vector<StoredEntry> listing =
        Listing({{"S0000001.TXN", 3}, {"S0000002.TXN", 2}, {"S0000002.TXN.x", 3}, {"S0000005.TXN", 3}});
    listing[2].kind = StoredKind::kNotRegular;  // a folder of that name is no copy
    const FetchSelection selection = selectExtents(listing, records, -1);
    EXPECT_EQ("S0000001.TXN<-S0000001.TXN S0000005.TXN<-S0000005.TXN", Taken(selection));
    ASSERT_EQ(1u, selection.unfit.size());
    EXPECT_EQ(2u, selection.unfit[0].number);
    EXPECT_EQ((std::vector<std::string>{"S0000002.TXN", "S0000002.TXN.x"}), selection.unfit[0].unfit);
    EXPECT_EQ("S0000003.TXN to S0000004.TXN", describeExtentRanges(selection.missing, 20));

    EXPECT_FALSE(selectExtents(listing, Records({{kNine, {{"notes.txt", 3}}}}), -1).any);
}

}  // namespace
