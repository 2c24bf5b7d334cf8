// The archive records of a place (a folder, or a store's prefix) and its
// files checked against them: whether each copy is still what was archived,
// or was damaged, cut short, swapped or lost since. The format of one record
// is in record_format.h, the writer of an archiving run's record in
// record_writer.h. Everything here only reads, and reads each file once.
#ifndef NSFMEND_TRANSLOG_ARCHIVE_RECORD_H
#define NSFMEND_TRANSLOG_ARCHIVE_RECORD_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "notesapi/notesapi.h"
#include "storage/storage.h"
#include "support/result.h"
#include "support/sha256.h"
#include "translog/log_chain.h"
#include "translog/record_format.h"

namespace nsfmend {

// The records of a place.

// A record that cannot serve: unreadable (error set) or damaged (line set).
struct RecordFault {
    std::string record;
    int error = 0;    // the errno of reading it; EINVAL: not a regular file
    size_t line = 0;  // the first line that is not a record's
    std::string reason;  // a store's own words for error -1; else empty
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
    std::map<std::string, std::vector<std::string>> named;  // by record: the names it lists
};

// Reads every record among entries, a listing of storage's place.
void readArchiveRecords(Storage &storage, const std::vector<StoredEntry> &entries,
                        ArchiveRecords *records);
// The same for a folder, listed first. 0, or the errno of the listing.
int readArchiveRecords(const char *dir, ArchiveRecords *records);

// What the records say of the place's extents: the suffixes their extent
// names use, and the extent numbers they name, ascending.
std::set<std::string> recordedSuffixes(const ArchiveRecords &records);
std::vector<DWORD> recordedExtents(const ArchiveRecords &records);

// One file read whole, once: its digest and those of its start at the
// marks asked for, or why it could not be read.
struct ReadDigest {
    Result result;
    FileDigest digest;
    std::vector<uint64_t> marks;  // digest.atMarks[i] is taken at marks[i]
    // The digest of the first `size` bytes; empty when that was not taken.
    std::string at(uint64_t size) const;
};
using ReadDigests = std::map<std::string, ReadDigest>;
ReadDigest readDigest(Storage &storage, const std::string &name, std::vector<uint64_t> marks);

// A place against its records.

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
    std::string name;          // in the place; for kMissing, the recorded name
    RecordMatch match;
    std::string record;        // the record compared with (empty: kUnrecorded)
    std::string recordedName;  // the name that record gives (another copy's, when
                               // the file is compared with its extent's copies)
    uint64_t size = 0;         // the file's, read
    uint64_t recordedSize = 0;
    std::string sha256;        // the file's, read (kMatches, kGrown, kDiffers)
    std::string recordedSha256;
    std::string logId;         // the log ID of the line compared with
    int error = 0;             // kUnreadable: errno; EINVAL: not a regular file
    std::string reason;        // kUnreadable with error -1: a store's own words
};

// A log the records name, with the first extent they name with it.
struct RecordedLog {
    std::string logId;
    std::string firstExtent;
};

struct RecordCheck {
    ArchiveRecords records;
    std::vector<RecordFinding> findings;  // the place's files in name order, then
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

// The same for any place, on its listing (entries; the log control file
// already left out where it must be) and its records as read from it. Each
// file is read once, with the marks of moreMarks (by name; may be null)
// taken as well, and kept in digests (may be null) for a caller that needs
// more of it.
using MarksByName = std::map<std::string, std::vector<uint64_t>>;
void checkStoredRecords(Storage &storage, const std::vector<StoredEntry> &entries,
                        ExtentNames names, ArchiveRecords records, const MarksByName *moreMarks,
                        ReadDigests *digests, RecordCheck *check);

// How many findings have the given match.
size_t countMatches(const RecordCheck &check, RecordMatch match);

}  // namespace nsfmend

#endif
