// What a fetch of an archive into the server's log directory takes: every
// extent a recovery to the cut-off needs, each from a copy its archive
// record vouches for. Only the archive's listing and records are looked at
// here; the bytes are checked against the record as they are fetched.
//
// Which extents a recovery to a cut-off needs, from the records alone: every
// record is named by the time its run began to write it, and lists what that
// run archived, the capture of the extent the server was filling at the end
// of the run included. So the extents the records up to the first one
// written at or after the cut-off list hold every transaction before it; the
// fetch takes all of them, from the first extent any record lists. Without a
// cut-off, or with one after the last record, it takes every recorded
// extent (and transactions after the last archiving run were never
// archived).
#ifndef NSFMEND_TRANSLOG_FETCH_PLAN_H
#define NSFMEND_TRANSLOG_FETCH_PLAN_H

#include <stdint.h>
#include <time.h>

#include <string>
#include <vector>

#include "notesapi/notesapi.h"
#include "storage/storage.h"
#include "translog/archive_record.h"
#include "translog/log_chain.h"

namespace nsfmend {

// One copy of an extent as its record gives it, and there with that size.
struct FetchCopy {
    std::string name;    // in the archive
    uint64_t size = 0;
    std::string sha256;
    std::string logId;   // empty for a captured file
    std::string record;  // the record whose line it is
};

struct FetchExtent {
    DWORD number = 0;
    // The copies to fetch it from, in the order they are tried: the
    // longest first (a whole extent before an earlier capture of it), of
    // equally long ones the first name.
    std::vector<FetchCopy> copies;
    // Copies a record lists that are not there with the recorded size
    // (missing, cut short or grown since): never fetched.
    std::vector<std::string> unfit;
};

struct FetchSelection {
    bool any = false;    // some record lists an extent
    DWORD first = 0;     // the first and last extent the fetch takes
    DWORD last = 0;
    // The record that bounds a cut-off (the first written at or after it);
    // empty without a cut-off, or when the cut-off is after every record.
    std::string boundingRecord;
    std::vector<FetchExtent> extents;  // first to last, those with a copy to take
    std::vector<FetchExtent> unfit;    // listed, but with no copy there as recorded
    std::vector<ExtentRange> missing;  // between first and last, listed by no record
    std::vector<RecordedLog> logs;     // the logs of the lines taken, by first extent
};

// The selection for a cut-off (cutOff < 0: none), from the archive's
// listing and records.
FetchSelection selectExtents(const std::vector<StoredEntry> &entries, const ArchiveRecords &records,
                             time_t cutOff);

}  // namespace nsfmend

#endif
