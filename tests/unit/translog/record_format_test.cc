// Archive records' names and text: names that sort by time and are never
// an extent's, text that sha256sum reads and that comes back as written.
#include "translog/record_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record_lines.h"
#include "support/sha256.h"
#include "translog/log_chain.h"

using namespace nsfmend;  // the module under test

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

