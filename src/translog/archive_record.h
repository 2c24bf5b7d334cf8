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
// The checks here only read; the writer goes through the durable layer, so a
// record is always wholly old or wholly new.
#ifndef NSFMEND_TRANSLOG_ARCHIVE_RECORD_H
#define NSFMEND_TRANSLOG_ARCHIVE_RECORD_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "notesapi/notesapi.h"
#include "translog/log_chain.h"

namespace nsfmend {
class Sha256;

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

// The records of a folder.

// A record that cannot serve: unreadable (error set) or damaged (line set).
struct RecordFault {
    std::string record;
    int error = 0;    // the errno of reading it; EINVAL: not a regular file
    size_t line = 0;  // the first line that is not a record's
};

// What a record says of one file, and which record says it.
struct RecordedFile {
    RecordEntry entry;
    std::string record;
};

struct ArchiveRecords {
    std::vector<std::string> records;              // every record's name, oldest first
    std::vector<RecordFault> faults;               // in name order
    std::map<std::string, RecordedFile> latest;    // by file name: the latest line for it
};

// Reads every record of dir. 0, or the errno of the listing.
int readArchiveRecords(const char *dir, ArchiveRecords *records);

// What the records say of the folder's extents: the suffixes their extent
// names use, and the extent numbers they name, ascending.
std::set<std::string> recordedSuffixes(const ArchiveRecords &records);
std::vector<DWORD> recordedExtents(const ArchiveRecords &records);

// A folder against its records.

enum class RecordMatch {
    kMatches,     // size and checksum as recorded
    kGrown,       // the recorded bytes are its start: a capture completed since,
                  // by a run stopped before its own record was written
    kDiffers,     // neither: damaged, cut short or another file
    kUnreadable,  // cannot be read (or is no regular file)
    kMissing,     // recorded, and not there
    kUnrecorded,  // an extent no record names (nor another copy of it)
};

struct RecordFinding {
    std::string name;          // in the folder; for kMissing, the recorded name
    RecordMatch match;
    std::string record;        // the record compared with (empty: kUnrecorded)
    std::string recordedName;  // the name that record gives (another copy's, when
                               // the file is compared with its extent's copies)
    uint64_t size = 0;         // the file's, read
    uint64_t recordedSize = 0;
    std::string logId;         // the log ID of the line compared with
    int error = 0;             // kUnreadable: errno; EINVAL: not a regular file
};

// A log the records name, with the first extent they name with it.
struct RecordedLog {
    std::string logId;
    std::string firstExtent;
};

struct RecordCheck {
    ArchiveRecords records;
    std::vector<RecordFinding> findings;  // the folder's files in name order, then
                                          // the missing ones in name order
    std::vector<RecordedLog> logs;        // every log ID of the lines in force
};

// Reads dir's records and compares every file of dir they name with its
// line. With records, an extent is a name of an extent's form whose suffix a
// record uses, never a folder. A file the records do not name but that is
// such an extent is compared with the lines of its extent's other copies: it
// agrees when it matches, or has grown from, one of them; with none, it is
// kUnrecorded. Every file is read once, through a fixed-size buffer.
//   kAnySuffix (an archive folder): every name a line in force gives must be
//     there.
//   kBare (the server's log directory): only bare names are the server's
//     extents; a recorded extent is there when its bare name is, and
//     recorded files that are no extents are not looked for.
// 0, or the errno of listing dir.
int checkArchiveRecords(const char *dir, ExtentNames names, RecordCheck *check);

// How many findings have the given match.
size_t countMatches(const RecordCheck &check, RecordMatch match);

// The writer of one archiving run's record.

// Collects what one run archived into one folder and keeps that run's
// record up to date there. A file goes in when the records do not already
// say what it now holds, so a run that changed nothing writes no record.
class ArchiveRecordWriter {
public:
    // Records the archived file at path (its folder is the record's): with
    // content, the digest of its bytes as they were written; without, as it
    // is read from disk now. 0, or the errno of reading it.
    int add(const std::string &path, const UNID *logId, const Sha256 *content = nullptr);
    // Writes the run's record with every file added so far, when anything
    // was added since the last write. 0, or the errno of the write.
    int write();
    // The record's path: where it is or will be written.
    std::string recordPath() const;

private:
    void start(const std::string &folder);

    bool started_ = false;
    std::string folder_;
    time_t newest_ = 0;                             // of the records there at the start
    std::map<std::string, RecordEntry> known_;      // what the records say, this run's too
    std::vector<RecordEntry> run_;                  // this run's lines
    std::string name_;                              // chosen at the first write
    bool pending_ = false;
};

}  // namespace nsfmend

#endif
