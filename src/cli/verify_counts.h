// The numbers of an archive check, for the forms a program reads (OPT=VERIFY
// OUTPUT=json and OUTPUT=nagios): how much the archive holds, how much of it
// is missing or differs from its records, and how long ago its newest extent
// was archived. A stopped archiving shows as that age growing, whatever the
// archive lives on: the records give the time, and where none lists the
// newest extent, the archive's own word for when the file was written.
#ifndef NSFMEND_CLI_VERIFY_COUNTS_H
#define NSFMEND_CLI_VERIFY_COUNTS_H

#include <stdint.h>
#include <time.h>

#include <functional>
#include <string>

#include "notesapi/notesapi.h"
#include "translog/archive_check.h"

namespace nsfmend {

// Where the newest extent's time comes from.
enum class ArchivedAt {
    kUnknown,   // no extent there, or no time for it
    kRecord,    // the newest archive record that lists the extent
    kModified,  // no record lists it: the file's modification time
};

struct ArchiveCounts {
    uint64_t extents = 0;        // extent numbers there
    uint64_t bytes = 0;          // the archived extent files' sizes, every copy
    uint64_t missing = 0;        // extent numbers missing from the chain
    uint64_t gaps = 0;           // unbroken runs of missing numbers
    uint64_t sizeDiffers = 0;    // files whose size is not the recorded one
    uint64_t sha256Differs = 0;  // files of the recorded size with another SHA-256
    bool hasNewest = false;      // the archive holds an extent
    DWORD newest = 0;            // the highest extent number there
    ArchivedAt newestFrom = ArchivedAt::kUnknown;
    time_t newestArchived = 0;
};

// What the archive says of one of its files beside its bytes.
struct ArchivedFileFacts {
    uint64_t size = 0;
    time_t modified = 0;
};
// The facts of the file `name` of the archive; false when it is no regular
// file or cannot be asked.
using ArchivedFileLookup = std::function<bool(const std::string &name, ArchivedFileFacts *facts)>;

// The counts of a check made of an archive. The sizes of files the check
// read are its own; the lookup is asked for the others' and, where no record
// lists the newest extent, for its copies' modification times.
ArchiveCounts countArchive(const ArchiveCheck &check, const ArchivedFileLookup &lookup);

}  // namespace nsfmend

#endif
