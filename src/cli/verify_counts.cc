#include "cli/verify_counts.h"

#include <string_view>

namespace nsfmend {
namespace {

bool isExtentNumbered(const std::string &name, DWORD *number) {
    std::string_view suffix;
    return parseExtentName(name, number, &suffix);
}

// A finding that stands for a file the check saw (not one only recorded).
bool isPresent(const RecordFinding &finding) { return finding.match != RecordMatch::kMissing; }

// Read by the check: its size is the one the check hashed.
bool wasRead(const RecordFinding &finding) {
    return finding.match == RecordMatch::kMatches || finding.match == RecordMatch::kGrown ||
           finding.match == RecordMatch::kDiffers;
}

// The newest record whose lines in force list a copy of extent `number`.
bool recordedAt(const ArchiveRecords &records, DWORD number, time_t *when) {
    bool found = false;
    for (const auto &[name, recorded] : records.latest) {
        DWORD n = 0;
        time_t stamp = 0;
        if (!isExtentNumbered(name, &n) || n != number ||
            !parseArchiveRecordName(recorded.record, &stamp))
            continue;
        if (!found || stamp > *when) *when = stamp;
        found = true;
    }
    return found;
}

}  // namespace

ArchiveCounts countArchive(const ArchiveCheck &check, const ArchivedFileLookup &lookup) {
    ArchiveCounts counts;
    counts.extents = check.chain.numbers.size();
    counts.missing = countExtents(check.missing);
    counts.gaps = check.missing.size();
    if (!check.chain.numbers.empty()) {
        counts.hasNewest = true;
        counts.newest = check.chain.numbers.back();
        if (recordedAt(check.records.records, counts.newest, &counts.newestArchived))
            counts.newestFrom = ArchivedAt::kRecord;
    }
    const bool wantModified = counts.hasNewest && counts.newestFrom == ArchivedAt::kUnknown;
    // Every extent file there is a finding: with records, each one they name
    // or that has a suffix they use; without, each as unrecorded. The lookup
    // is asked only what the check did not read, as it may cost a request.
    for (const RecordFinding &f : check.records.findings) {
        DWORD number = 0;
        if (!isPresent(f) || !isExtentNumbered(f.name, &number)) continue;
        if (f.match == RecordMatch::kDiffers) {
            if (f.size != f.recordedSize)
                ++counts.sizeDiffers;
            else
                ++counts.sha256Differs;
        }
        const bool forTime = wantModified && number == counts.newest;
        if (wasRead(f)) counts.bytes += f.size;
        if (wasRead(f) && !forTime) continue;
        ArchivedFileFacts facts;
        if (!lookup(f.name, &facts)) continue;
        if (!wasRead(f)) counts.bytes += facts.size;
        if (forTime && (counts.newestFrom == ArchivedAt::kUnknown || facts.modified > counts.newestArchived)) {
            counts.newestFrom = ArchivedAt::kModified;
            counts.newestArchived = facts.modified;
        }
    }
    return counts;
}

}  // namespace nsfmend
