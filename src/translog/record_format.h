// Archive records: what an archiving run put in a folder, written by the
// run itself so that a later check can tell a copy that is still what was
// archived from one that was damaged, cut short or swapped since. One
// record per run, beside the copies, named nsfmend-archive-<UTC time>.sha256
// (e.g. nsfmend-archive-20131115T120000Z.sha256): the names sort by the time
// of their runs, are never hidden and never parse as an extent's name.
//
// The text, line by line (sha256sum -c reads it, skipping the "#" lines):
//   # nsfmend archive record 1: sha256sum -c <record> checks it in its folder
//   # size 262144 log 00C2B1A4000000010000000200000003
//   5f9c...64 hex digits...  S0000001.TXN
//   # size 1288
//   ab41...  S0000004.TXN
// Each checksum line follows the "# size" line of its file: the size in
// bytes and, for an extent the server handed out, the log ID it came with
// (the UNID word by word, 32 hex digits); a file captured from the log
// directory has none. A name with a backslash, line feed or carriage return
// is written as sha256sum writes it: the line starts with "\" and the three
// are "\\", "\n" and "\r". The line of a later record supersedes the line an
// earlier one has for the same name.
//
// Here are the names and the text; archive_record.h reads the records of
// a place and checks its files against them, record_writer.h writes one.
#ifndef NSFMEND_TRANSLOG_RECORD_FORMAT_H
#define NSFMEND_TRANSLOG_RECORD_FORMAT_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <string>
#include <string_view>
#include <vector>

#include "notesapi/notesapi.h"

namespace nsfmend {

// Names.

// "nsfmend-archive-" + the UTC time as YYYYMMDDTHHMMSSZ + ".sha256".
std::string archiveRecordName(time_t stamp);
// True for such a name, with its time in *stamp (may be null).
bool parseArchiveRecordName(std::string_view name, time_t *stamp);

// Content.

// One archived file as a record gives it.
struct RecordEntry {
    std::string name;    // the file's name in the record's folder
    std::string sha256;  // 64 lowercase hex digits
    uint64_t size = 0;
    std::string logId;   // 32 hex digits; empty for a captured file
};

// A log ID as records write it.
std::string logIdText(const UNID &logId);
// The text of a record holding these entries, in their order.
std::string formatRecord(const std::vector<RecordEntry> &entries);
// The entries of a record's text. 0, or the number (from 1) of the first
// line that is not as formatRecord writes it.
size_t parseRecord(std::string_view text, std::vector<RecordEntry> *entries);

}  // namespace nsfmend

#endif
