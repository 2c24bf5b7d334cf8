// The sweep over the data directory after a disaster restore.
#ifndef NSFMEND_RECOVERY_MEDIA_RECOVERY_H
#define NSFMEND_RECOVERY_MEDIA_RECOVERY_H

#include <dirent.h>

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

#endif
