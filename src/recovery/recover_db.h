// Recovery of one backup file through the archived transaction logs.
#ifndef NSFMEND_RECOVERY_RECOVER_DB_H
#define NSFMEND_RECOVERY_RECOVER_DB_H

#include "notesapi/notesapi.h"

// The format the cut-off text is read with: month/day/year, 24-hour clock.
extern const INTLFORMAT intl_format;
extern const TFMT tfmt;

// Rolls the backup file forward to the cut-off time (null or empty: to the
// latest transaction). Prints its success line; returns the API status.
int RecoverDbs(const char *backupPath, const char *cutOffTime, int newDbiid, int newRepid,
               int thirdOption, int noteMode);
// Re-stamps the calendar reading of *time as one taken in the given zone.
void convertToLocalTIMEDATE(TIMEDATE *time, int zone, int dst);

extern "C" STATUS NoteCallback(DWORD action, void *context, NOTE_RECOVERY_INFO *info);

#endif
