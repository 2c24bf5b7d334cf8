// One backup file: recover it, and on "RESTORE" put it in place of a live
// database (offline, copy over, online).
#ifndef NSFMEND_RECOVERY_RESTORE_SINGLE_H
#define NSFMEND_RECOVERY_RESTORE_SINGLE_H

#include <string>

#include "notesapi/notesapi.h"
#include "recovery/replace_live.h"

namespace nsfmend {
class Progress;
}

// 1 on success or when there was nothing to do, 0 after printing a failure.
// The replacing of the live database is replaceLiveDatabase
// (recovery/replace_live.h); these lines are its report.
int restoreSingleDatabase(const char *operation, const char *backupPath, const char *dbPath,
                          const char *cutOffTime, int newDbiid, int newRepid);
STATUS TakeDbsOffline(const char *dbPath);
// Puts the copy in place whole (temporary file, sync, rename): on failure
// the database file is as it was. The copy has the backup's times; a live
// file it replaces keeps its owner, group and mode, and a new one takes the
// backup's without write access for group or others that the folders do
// not give (CopyAccess::kKeepDestination). progress, when given, shows the
// copy's progress (the command line's restore).
int RestoreDbs(const char *source, const char *destination,
               nsfmend::Progress *progress = nullptr);
STATUS BringDbsOnline(const char *dbPath);

#endif
