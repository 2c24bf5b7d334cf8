// An archive folder checked whole: its records, its chain, and what the
// server's log directory holds beyond it.
#include "translog/archive_check.h"

#include <algorithm>

namespace nsfmend {

int checkArchiveFolder(const char *archiveDir, const char *logDir, ArchiveCheck *check) {
    *check = ArchiveCheck();
    int rc = checkArchiveRecords(archiveDir, ExtentNames::kAnySuffix, &check->records);
    if (rc != 0) return rc;
    check->recorded = !check->records.records.latest.empty();
    const std::set<std::string> suffixes = recordedSuffixes(check->records.records);
    rc = checkExtentChain(archiveDir, ExtentNames::kAnySuffix, &check->chain,
                          check->recorded ? &suffixes : nullptr);
    if (rc != 0) return rc;

    // The chain runs from the first extent any record names, or the first
    // present, to the last of either.
    std::vector<DWORD> ends = recordedExtents(check->records.records);
    if (!check->chain.numbers.empty()) {
        ends.push_back(check->chain.numbers.front());
        ends.push_back(check->chain.numbers.back());
    }
    if (!ends.empty()) {
        const auto [lo, hi] = std::minmax_element(ends.begin(), ends.end());
        check->missing = rangesNotIn(*lo, *hi, check->chain.numbers);
    }

    check->withServer = logDir != nullptr && logDir[0] != '\0';
    if (!check->withServer) return 0;
    // The server reads bare names only; so does this look at its folder.
    check->serverError = checkExtentChain(logDir, ExtentNames::kBare, &check->server);
    if (check->serverError == 0) check->lacking = extentsNotIn(check->server, check->chain);
    return 0;
}

std::string describeMismatch(const RecordFinding &finding) {
    std::string text = finding.size == finding.recordedSize
                           ? std::string("same size, another SHA-256")
                           : "size " + std::to_string(finding.size) + ", recorded " +
                                 std::to_string(finding.recordedSize);
    if (finding.recordedName != finding.name) text += ", recorded as " + finding.recordedName;
    return text;
}

std::string describeLogs(const std::vector<RecordedLog> &logs) {
    std::string text;
    for (const RecordedLog &log : logs)
        text += (text.empty() ? "" : ", ") + log.logId + " (from " + log.firstExtent + ")";
    return text;
}

}  // namespace nsfmend
