// A record's line for a file of the given content, a log ID, a record
// written into a folder and what a check of that folder finds, as the tests
// of the records' format, check and writer make and read them.
#ifndef NSFMEND_TESTS_UNIT_TRANSLOG_RECORD_LINES_H
#define NSFMEND_TESTS_UNIT_TRANSLOG_RECORD_LINES_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "support/sha256.h"
#include "translog/archive_record.h"
#include "translog/record_format.h"

inline nsfmend::RecordEntry Entry(const std::string &name, const std::string &content,
                                  const std::string &logId = "") {
    nsfmend::RecordEntry entry;
    entry.name = name;
    entry.sha256 = nsfmend::sha256Hex(content);
    entry.size = content.size();
    entry.logId = logId;
    return entry;
}

constexpr char kLog[] = "00C2B1A4000000010000000200000003";

inline void Record(const TempDir &dir, const std::string &name,
                   const std::vector<nsfmend::RecordEntry> &entries) {
    ASSERT_TRUE(WriteFile(dir / name, nsfmend::formatRecord(entries)));
}

inline nsfmend::RecordCheck Check(const TempDir &dir,
                                  nsfmend::ExtentNames names = nsfmend::ExtentNames::kAnySuffix) {
    nsfmend::RecordCheck check;
    EXPECT_EQ(0, nsfmend::checkArchiveRecords(dir.path().c_str(), names, &check));
    return check;
}

// "name:match" for each finding, joined with " ".
inline std::string Findings(const nsfmend::RecordCheck &check) {
    static const char *const kNames[] = {"matches", "grown", "differs", "unreadable", "missing",
                                         "unrecorded"};
    std::string out;
    for (const nsfmend::RecordFinding &f : check.findings)
        out += (out.empty() ? "" : " ") + f.name + ":" + kNames[(int)f.match];
    return out;
}

#endif
