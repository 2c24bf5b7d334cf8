// The sweep over the data directory after a disaster restore.
#ifndef NSFMEND_RECOVERY_MEDIA_RECOVERY_H
#define NSFMEND_RECOVERY_MEDIA_RECOVERY_H

#include <dirent.h>

#include <string>
#include <vector>

#include "notesapi/notesapi.h"
#include "recovery/recover_db.h"
#include "support/string_array.h"

// 1 when the tree was listed and every logged database was recovered; 0 when
// the listing failed (nothing recovered) or any database failed (each is named
// after the summary line).
int restoreAllDatabases(const char *operation, const char *directory, const char *topDirectory,
                        const char *cutOffTime, int newDbiid, int newRepid);
// Appends every .nsf/.box under directory; 1 on success, 0 with message filled.
int listDatabases(const char *directory, StringArray *list, const char *topDirectory,
                  char *message);
int file_select2(const struct dirent *entry);
// 1 logged, 0 not logged; -1 after printing why the database could not be
// asked (open, log information or close failed).
int isLoggedDatabase(const char *dbPath);

namespace nsfmend {

// listDatabases into a list of paths, in the sweep's order: 1, or 0 with
// the listing's failure text in message (kMessageSize bytes).
int listDatabasePaths(const char *directory, const char *topDirectory,
                      std::vector<std::string> *paths, char *message);

// How asking a database whether it is logged ended.
struct LoggedQuery {
    bool logged = false;
    // The step that failed ("open", "get log info from", "close") and its
    // status; null when the database could be asked.
    const char *failedStep = nullptr;
    STATUS status = NOERROR;
    // The extent its last logged change went to: a recovery reads the log
    // from there on. 0 when the server gives none.
    DWORD logExtent = 0;
    // The log it belongs to, as the server gives it.
    UNID logId{};
};

// One database of the sweep, asked once before anything is changed.
struct SweepDatabase {
    std::string path;
    LoggedQuery answer;
    // The line the sweep prints instead of recovering it, when its recovery
    // is known to fail (a plan's finding); empty: recover it when logged.
    std::string refusal;
};

// The sweep's second half, over the databases asked before: a database
// that could not be asked gets the line of that failure, a refused one its
// refusal's, an unlogged one the skip line, and the others are recovered
// with that one cut-off, in list order; then the summary line. 1 when none
// failed.
int recoverListedDatabases(const std::vector<SweepDatabase> &databases, const CutOff &cutOff,
                           int newDbiid, int newRepid);

// isLoggedDatabase without its line: opens dbPath through the API as given,
// reads the logged flag and closes the database again.
LoggedQuery queryLogged(const char *dbPath);
// The line of a failed query, without the leading blank and the line end:
// "Fail to open database <path>, Reason=<the API's text>".
std::string describeLoggedFailure(const char *dbPath, const LoggedQuery &query);

}  // namespace nsfmend

#endif
