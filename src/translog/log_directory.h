// The server's transaction-log directory as the program sees it: where it is
// (TRANSLOG_Path), what its extents are called, which of its files hold log
// records, and the log control file in it. The log-control reset and the
// archiving both come here, so they cannot disagree about any of it.
#ifndef NSFMEND_TRANSLOG_LOG_DIRECTORY_H
#define NSFMEND_TRANSLOG_LOG_DIRECTORY_H

#include <dirent.h>
#include <stddef.h>

#include <string>
#include <string_view>
#include <vector>

#include "notesapi/notesapi.h"
#include "support/sizes.h"

namespace nsfmend {

// Where the log directory is.

// A log directory holds at most this many characters, so that "/" and a
// file name can still follow it within a path buffer. A TRANSLOG_Path value
// that fills all 1023 characters the API hands out may have been cut, and is
// refused by the same rule.
constexpr size_t kLogDirectoryMax = kPathSize - 2;

// The failure line of a TRANSLOG_Path that is missing or empty.
extern const char kNoLogDirectoryText[];

// The log directory from the server setting TRANSLOG_Path: an absolute value
// as it is, a relative one joined to dataDir ("/" between, not doubled);
// with dataDir null, the data directory is asked of the API when needed.
// 0: *logDir holds it. ENOENT: the setting is missing or empty. ENAMETOOLONG:
// the directory would be longer than kLogDirectoryMax; *logDir holds it whole
// for the message, as it is never cut and never used relative.
int resolveLogDirectory(const char *dataDir, std::string *logDir);
// The same rule for a TRANSLOG_Path value read elsewhere (notes.ini itself,
// when no runtime may be started): an empty value gives ENOENT, a relative
// one is joined to dataDir, and one longer than kLogDirectoryMax gives
// ENAMETOOLONG with *logDir holding it whole.
int logDirectoryFrom(std::string_view dataDir, std::string_view value, std::string *logDir);

// What the files are called.

// The log control file: the server's own state, which the reset deletes and
// the archiving never copies.
extern const char kLogControlFileName[];
// logDir + "/" + the log control file's name.
std::string logControlFilePath(std::string_view logDir);

// The archived name of extent logNumber: destDir as given (it ends with "/"),
// "S", the number in at least seven digits (never cut), ".TXN", suffix.
std::string archivedName(const char *destDir, DWORD logNumber, const char *suffix);
// archivedName into name (size bytes). False, with name emptied, when it
// would not fit.
bool formatArchivedName(char *name, size_t size, const char *destDir, DWORD logNumber,
                        const char *suffix);
// The archived name of a file of the log directory: destDir, its own name,
// suffix. For an extent that is the name archivedName gives it, so the two
// recognise each other's copies.
std::string capturedName(const char *destDir, const char *fileName, const char *suffix);

// What the log directory holds.

// How a file of the log directory can be read.
enum class LogFileKind {
    kRegular,     // a regular file, or a link to one
    kNotRegular,  // a FIFO, socket, device or folder (or a link to one): never opened
    kUnknown,     // its lookup failed; whoever opens it finds out why
};

struct LogFile {
    std::string name;
    LogFileKind kind;
};

// The entries of logDir that file_select keeps, in ascending byte order of
// their names, each with its kind. 0, or the errno of the listing.
int listLogDirectory(const char *logDir, std::vector<LogFile> *files);

}  // namespace nsfmend

// The listing's scandir filter: 0 for ".", ".." and the log control file
// (exact, case-sensitive), else 1.
int file_select(const struct dirent *entry);

#endif
