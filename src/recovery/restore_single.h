// One backup file: recover it, and on "RESTORE" put it in place of a live
// database (offline, copy over, online).
#ifndef NSFMEND_RECOVERY_RESTORE_SINGLE_H
#define NSFMEND_RECOVERY_RESTORE_SINGLE_H

#include "notesapi/notesapi.h"

// 1 on success or when there was nothing to do, 0 after printing a failure.
int restoreSingleDatabase(const char *operation, const char *backupPath, const char *dbPath,
                          const char *cutOffTime, int newDbiid, int newRepid);
STATUS TakeDbsOffline(const char *dbPath);
int RestoreDbs(const char *source, const char *destination);
STATUS BringDbsOnline(const char *dbPath);

#endif
