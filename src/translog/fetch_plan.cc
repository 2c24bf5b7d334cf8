#include "translog/fetch_plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "translog/record_format.h"

namespace nsfmend {
namespace {

// The highest extent number a record lists; false when it lists none.
bool highestListed(const ArchiveRecords &records, const std::string &record, DWORD *highest) {
    const auto named = records.named.find(record);
    if (named == records.named.end()) return false;
    bool any = false;
    for (const std::string &name : named->second) {
        DWORD number = 0;
        std::string_view suffix;
        if (!parseExtentName(name, &number, &suffix)) continue;
        *highest = any ? std::max(*highest, number) : number;
        any = true;
    }
    return any;
}

}  // namespace

FetchSelection selectExtents(const std::vector<StoredEntry> &entries, const ArchiveRecords &records,
                             time_t cutOff) {
    FetchSelection selection;
    std::map<std::string, const StoredEntry *> present;
    for (const StoredEntry &entry : entries) present[entry.name] = &entry;

    // Every extent the lines in force list, with the copies they list.
    std::map<DWORD, FetchExtent> listed;
    for (const auto &[name, line] : records.latest) {
        DWORD number = 0;
        std::string_view suffix;
        if (!parseExtentName(name, &number, &suffix)) continue;
        FetchExtent &extent = listed[number];
        extent.number = number;
        const auto there = present.find(name);
        if (there == present.end() || there->second->kind != StoredKind::kRegular ||
            there->second->size != line.entry.size) {
            extent.unfit.push_back(name);
            continue;
        }
        extent.copies.push_back(
            FetchCopy{name, line.entry.size, line.entry.sha256, line.entry.logId, line.record});
    }
    if (listed.empty()) return selection;
    selection.any = true;
    selection.first = listed.begin()->first;
    selection.last = listed.rbegin()->first;

    if (cutOff >= 0) {
        // records.records is in the order of the records' times.
        bool bounded = false;
        DWORD last = 0;
        bool lastKnown = false;
        for (const std::string &record : records.records) {
            DWORD highest = 0;
            if (highestListed(records, record, &highest)) {
                last = lastKnown ? std::max(last, highest) : highest;
                lastKnown = true;
            }
            time_t stamp = 0;
            if (parseArchiveRecordName(record, &stamp) && stamp >= cutOff) {
                selection.boundingRecord = record;
                bounded = true;
                break;
            }
        }
        if (bounded && lastKnown) selection.last = std::max(selection.first, last);
    }

    std::vector<DWORD> numbers;
    std::map<std::string, std::string> logs;  // log ID -> first extent
    for (auto &[number, extent] : listed) {
        if (number > selection.last) break;
        numbers.push_back(number);
        std::sort(extent.copies.begin(), extent.copies.end(),
                  [](const FetchCopy &a, const FetchCopy &b) {
                      return a.size != b.size ? a.size > b.size : a.name < b.name;
                  });
        if (extent.copies.empty()) {
            selection.unfit.push_back(extent);
            continue;
        }
        for (const FetchCopy &copy : extent.copies)
            if (!copy.logId.empty() && logs.count(copy.logId) == 0) logs[copy.logId] = copy.name;
        selection.extents.push_back(extent);
    }
    selection.missing = rangesNotIn(selection.first, selection.last, numbers);
    for (const auto &[logId, extent] : logs) selection.logs.push_back(RecordedLog{logId, extent});
    std::sort(selection.logs.begin(), selection.logs.end(),
              [](const RecordedLog &a, const RecordedLog &b) { return a.firstExtent < b.firstExtent; });
    return selection;
}

}  // namespace nsfmend
