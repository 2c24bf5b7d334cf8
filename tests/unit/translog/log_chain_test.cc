// A folder of extents as a chain: the names that are extents, the numbers
// missing between the first and the last, files that cannot serve, copies
// under several suffixes that agree or not, and what the server holds that
// an archive lacks.
#include "translog/log_chain.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

using namespace nsfmend;  // the module under test

namespace {

// "number suffix" for a name, or "no".
std::string Parsed(const char *name) {
    DWORD number = 0;
    std::string_view suffix;
    if (!parseExtentName(name, &number, &suffix)) return "no";
    return std::to_string(number) + " " + std::string(suffix);
}

ExtentChain Chain(const TempDir &dir, ExtentNames names = ExtentNames::kAnySuffix) {
    ExtentChain chain;
    EXPECT_EQ(0, checkExtentChain(dir.path().c_str(), names, &chain));
    return chain;
}

std::string Missing(const ExtentChain &chain) { return describeExtentRanges(chain.missing, 10); }

// "number: longest and other" for each pair of copies that disagree.
std::string Disagreements(const ExtentChain &chain) {
    std::string out;
    for (const DisagreeingCopies &d : chain.disagreeing)
        out += (out.empty() ? "" : "; ") + std::to_string(d.number) + ": " + d.longest + " and " +
               d.other;
    return out;
}

// Files of the given names and contents in dir.
void Files(const TempDir &dir, std::initializer_list<std::pair<const char *, const char *>> files) {
    for (const auto &[name, content] : files) ASSERT_TRUE(WriteFile(dir / name, content));
}

}  // namespace

TEST(ExtentName, OnlyTheNamesTheArchiveGivesAreExtents) {
    EXPECT_EQ("1 ", Parsed("S0000001.TXN"));
    EXPECT_EQ("42 -full", Parsed("S0000042.TXN-full"));
    EXPECT_EQ("42 .TXN", Parsed("S0000042.TXN.TXN"));
    EXPECT_EQ("12345678 ", Parsed("S12345678.TXN"));
    EXPECT_EQ("4294967295 x", Parsed("S4294967295.TXNx"));
    for (const char *name : {"S000001.TXN", "S01234567.TXN", "S4294967296.TXN", "s0000001.TXN",
                             "S0000001.txn", "S0000001TXN", "S0000001.TX", "S", "",
                             ".S0000001.TXN.nsfmend-0123abcd", "nlogctrl.lfh", "XS0000001.TXN"})
        EXPECT_EQ("no", Parsed(name)) << name;
    EXPECT_EQ("S0000042.TXN", extentName(42));
}

TEST(ExtentChain, AGapIsNamedByTheNumbersMissingBetweenFirstAndLast) {
    TempDir dir;
    for (const char *name : {"S0000001.TXN", "S0000002.TXN", "S0000004.TXN", "S0000007.TXN"})
        ASSERT_TRUE(WriteFile(dir / name, name));
    const ExtentChain chain = Chain(dir);
    EXPECT_EQ((std::vector<DWORD>{1, 2, 4, 7}), chain.numbers);
    EXPECT_EQ("S0000003.TXN, S0000005.TXN to S0000006.TXN", Missing(chain));
    EXPECT_EQ(3u, countExtents(chain.missing));
    EXPECT_TRUE(chain.bad.empty() && chain.disagreeing.empty() && chain.others.empty());

    TempDir whole;
    for (const char *name : {"S0000009.TXN", "S0000010.TXN", "S0000011.TXN"})
        ASSERT_TRUE(WriteFile(whole / name, name));
    EXPECT_EQ("", Missing(Chain(whole)));
}

TEST(ExtentChain, CopiesUnderSeveralSuffixesAgreeWhenEqualOrTheStartOfTheLongest) {
    TempDir dir;
    // Extent 1: the same bytes twice. Extent 2: two captures taken while it
    // filled, then the whole. Extent 3: a copy with other bytes. Extent 4: a
    // longer copy that is not the continuation of a shorter one.
    Files(dir, {{"S0000001.TXN-full", "records 1"},
                {"S0000001.TXN-incr", "records 1"},
                {"S0000002.TXN-a", "rec"},
                {"S0000002.TXN-b", "records 2"},
                {"S0000002.TXN-c", "records"},
                {"S0000003.TXN", "records 3"},
                {"S0000003.TXN-old", "records X"},
                {"S0000004.TXN-a", "records 4"},
                {"S0000004.TXN-b", "records 4 and then some"},
                {"S0000004.TXN-c", "other"}});
    const ExtentChain chain = Chain(dir);
    EXPECT_EQ((std::vector<DWORD>{1, 2, 3, 4}), chain.numbers);
    EXPECT_EQ("", Missing(chain));
    // Of equal length, the first in name order is the one compared with.
    EXPECT_EQ("3: S0000003.TXN and S0000003.TXN-old; 4: S0000004.TXN-b and S0000004.TXN-c",
              Disagreements(chain));
}

TEST(ExtentChain, TheServersViewCountsBareNamesOnly) {
    TempDir dir;
    Files(dir, {{"S0000001.TXN", "1"},
                {"S0000002.TXN-full", "2"},
                {"S0000003.TXN", "3"},
                {"nlogctrl.lfh", "control"},
                {"readme", "x"}});
    const ExtentChain server = Chain(dir, ExtentNames::kBare);
    EXPECT_EQ((std::vector<DWORD>{1, 3}), server.numbers);
    EXPECT_EQ("S0000002.TXN", Missing(server));
    EXPECT_EQ((std::vector<std::string>{"S0000002.TXN-full", "readme"}), server.others);
    // An archive takes the suffixed copy for extent 2.
    EXPECT_EQ("", Missing(Chain(dir)));
}

TEST(ExtentChain, FilesThatCannotServeAreNamedAndStillTakeTheirPlace) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "1"));
    ASSERT_EQ(0, mkfifo((dir / "S0000002.TXN").c_str(), 0600));  // never opened
    ASSERT_TRUE(MakeDir(dir / "S0000003.TXN"));
    ASSERT_EQ(0, symlink("gone", (dir / "S0000004.TXN").c_str()));
    ASSERT_TRUE(WriteFile(dir / "S0000005.TXN", "5"));
    ASSERT_EQ(0, symlink("S0000005.TXN", (dir / "S0000006.TXN").c_str()));
    const ExtentChain chain = Chain(dir, ExtentNames::kBare);
    EXPECT_EQ((std::vector<DWORD>{1, 2, 3, 4, 5, 6}), chain.numbers);
    EXPECT_EQ("", Missing(chain));
    std::string bad;
    for (const auto &b : chain.bad)
        bad += b.name + (b.notRegular ? " not regular; " : " errno " + std::to_string(b.error) + "; ");
    EXPECT_EQ("S0000002.TXN not regular; S0000003.TXN not regular; S0000004.TXN errno " +
                  std::to_string(ENOENT) + "; ",
              bad);
}

TEST(ExtentChain, AFolderThatCannotBeListedIsItsErrno) {
    TempDir dir;
    ExtentChain chain;
    chain.numbers = {9};
    EXPECT_EQ(ENOENT, checkExtentChain((dir / "missing").c_str(), ExtentNames::kBare, &chain));
    EXPECT_TRUE(chain.numbers.empty());
}

TEST(ExtentChain, WhatTheServerHoldsThatTheArchiveLacks) {
    TempDir server, archive;
    for (int n = 1; n <= 9; ++n) ASSERT_TRUE(WriteFile(server / extentName((DWORD)n), "x"));
    for (int n : {1, 2, 4, 7})
        ASSERT_TRUE(WriteFile(archive / (extentName((DWORD)n) + "-full"), "x"));
    const std::vector<ExtentRange> lacking =
        extentsNotIn(Chain(server, ExtentNames::kBare), Chain(archive));
    EXPECT_EQ("S0000003.TXN, S0000005.TXN to S0000006.TXN, S0000008.TXN to S0000009.TXN",
              describeExtentRanges(lacking, 10));
    EXPECT_EQ(5u, countExtents(lacking));
    // Past the limit only the count of extents left out follows.
    EXPECT_EQ("S0000003.TXN, and 4 more", describeExtentRanges(lacking, 1));
    EXPECT_TRUE(extentsNotIn(Chain(archive), Chain(server, ExtentNames::kBare)).empty());
}

TEST(RangesNotIn, TheGapsFromTheFirstToTheLastEndsIncluded) {
    EXPECT_EQ("S0000001.TXN, S0000004.TXN to S0000005.TXN, S0000008.TXN",
              describeExtentRanges(rangesNotIn(1, 8, {2, 3, 6, 7}), 10));
    EXPECT_EQ("", describeExtentRanges(rangesNotIn(2, 3, {1, 2, 3, 4}), 10));
    EXPECT_EQ("S0000003.TXN to S0000005.TXN", describeExtentRanges(rangesNotIn(3, 5, {}), 10));
    // The largest number there is ends the range without wrapping round.
    EXPECT_EQ("S4294967294.TXN",
              describeExtentRanges(rangesNotIn(4294967294u, 4294967295u, {4294967295u}), 10));
    EXPECT_EQ("S4294967295.TXN",
              describeExtentRanges(rangesNotIn(4294967294u, 4294967295u, {4294967294u}), 10));
}

TEST(ExtentChain, WithTheRecordsSuffixesOnlyThoseNamesAreExtentsAndFoldersNever) {
    TempDir dir;
    Files(dir, {{"S0000001.TXN", "one"}, {"S0000002.TXN", "two"}, {"S0000002.TXN.bak", "tWo"}});
    ASSERT_TRUE(MakeDir(dir / "S0000003.TXN"));
    const std::set<std::string> suffixes = {""};
    ExtentChain chain;
    ASSERT_EQ(0, checkExtentChain(dir.path().c_str(), ExtentNames::kAnySuffix, &chain, &suffixes));
    EXPECT_EQ((std::vector<DWORD>{1, 2}), chain.numbers);
    EXPECT_TRUE(chain.bad.empty());
    EXPECT_TRUE(chain.disagreeing.empty());
    EXPECT_EQ((std::vector<std::string>{"S0000002.TXN.bak", "S0000003.TXN"}), chain.others);
    // Without, every name of an extent's form counts, as before.
    const ExtentChain all = Chain(dir);
    EXPECT_EQ(1u, all.bad.size());
    EXPECT_EQ(1u, all.disagreeing.size());
}
