// A record's line for a file of the given content, and a log ID, as the
// tests of the records' format, check and writer make them.
#ifndef NSFMEND_TESTS_UNIT_TRANSLOG_RECORD_LINES_H
#define NSFMEND_TESTS_UNIT_TRANSLOG_RECORD_LINES_H

#include <string>

#include "support/sha256.h"
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

#endif
