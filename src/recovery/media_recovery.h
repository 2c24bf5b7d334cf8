// The sweep over the data directory after a disaster restore.
#ifndef NSFMEND_RECOVERY_MEDIA_RECOVERY_H
#define NSFMEND_RECOVERY_MEDIA_RECOVERY_H

#include <dirent.h>

#include "support/string_array.h"

// 1 when the tree was listed (single recoveries may still have failed), else 0.
int restoreAllDatabases(const char *operation, const char *directory, const char *topDirectory,
                        const char *cutOffTime, int newDbiid, int newRepid);
// Appends every .nsf/.box under directory; 1 on success, 0 with message filled.
int listDatabases(const char *directory, StringArray *list, const char *topDirectory,
                  char *message);
int file_select2(const struct dirent *entry);
int isLoggedDatabase(const char *dbPath);

#endif
