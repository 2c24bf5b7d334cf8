// The check of an archive, a folder or a store's prefix, as a backup agent's
// verifyNsfArchiveLogs and nsfmend OPT=VERIFY make it: every file against
// the archive records beside it, the extents there as a chain from the first
// extent present or recorded to the last, and (when the server's log
// directory is named) the extents the server holds that the archive lacks.
// The place is listed once and each file read at most once. The findings
// come back as data; each caller says them in its own words.
#ifndef NSFMEND_TRANSLOG_ARCHIVE_CHECK_H
#define NSFMEND_TRANSLOG_ARCHIVE_CHECK_H

#include <map>
#include <string>
#include <vector>

#include "storage/storage.h"
#include "support/result.h"
#include "translog/archive_record.h"
#include "translog/log_chain.h"

namespace nsfmend {

struct ArchiveCheck {
    std::vector<StoredEntry> entries;  // the place's listing, the log control file left out
    RecordCheck records;  // the archive's files against its records
    // Some record line could be read: only names with a suffix the records
    // use are extents then, and folders are not. Without, every name of an
    // extent's form is, as in an archive made before records were written.
    bool recorded = false;
    ExtentChain chain;    // the archive's extents under those rules
    // The store's own words for an entry of chain.bad whose error is -1.
    std::map<std::string, std::string> reasons;
    // Extent numbers missing from the first extent present or recorded to
    // the last: a lost first or newest extent is missing too.
    std::vector<ExtentRange> missing;
    bool withServer = false;
    int serverError = 0;   // the errno of listing the log directory
    ExtentChain server;    // the log directory's extents: bare names only
    std::vector<ExtentRange> lacking;  // the server's extents the archive lacks
};

// Checks the archive in storage's place, and logDir too when it is neither
// null nor empty. Only reads. ok, or the failure of listing the place
// (nothing else is checked then).
Result checkArchive(Storage &storage, const char *logDir, ArchiveCheck *check);
// The same for a folder. 0, or the errno of listing archiveDir.
int checkArchiveFolder(const char *archiveDir, const char *logDir, ArchiveCheck *check);

// What a finding of kDiffers says about the file: "size 100, recorded 120",
// or "same size, another SHA-256", and ", recorded as NAME" when it was
// compared with another copy of its extent.
std::string describeMismatch(const RecordFinding &finding);

// The logs the records name, for a line or a message: "ID (from NAME)",
// joined with ", ".
std::string describeLogs(const std::vector<RecordedLog> &logs);

}  // namespace nsfmend

#endif
