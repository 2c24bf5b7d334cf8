// Recovery of one backup file through the archived transaction logs.
#ifndef NSFMEND_RECOVERY_RECOVER_DB_H
#define NSFMEND_RECOVERY_RECOVER_DB_H

#include "notesapi/notesapi.h"
#include "support/result.h"

// The format the cut-off text is read with: month/day/year, 24-hour clock.
extern const INTLFORMAT intl_format;
extern const TFMT tfmt;

// Rolls the backup file forward to the cut-off time (null or empty: to the
// latest transaction). Prints its success line; returns the API status.
int RecoverDbs(const char *backupPath, const char *cutOffTime, int newDbiid, int newRepid,
               int thirdOption, int noteMode);
// Re-stamps the calendar reading of *time as one taken in the given zone.
void convertToLocalTIMEDATE(TIMEDATE *time, int zone, int dst);

namespace nsfmend {

// The cut-off text as RecoverDbs reads it: parsed with intl_format and tfmt,
// then re-stamped as a GMT+0 reading. NOERROR with *cutOff the value the
// recovery is given and, when reading is given, the calendar fields it
// stands for (in GMT+0); otherwise the parse status, as RecoverDbs returns it.
STATUS parseCutOffTime(const char *text, TIMEDATE *cutOff, TIME *reading);

// A cut-off as a recovery is handed it: read once, before anything is
// changed, and then given to every recovery of the run as it is.
struct CutOff {
    bool given = false;  // DATETIME= was not empty: a point-in-time recovery
    TIMEDATE value{};    // what the text reads as, re-stamped as GMT+0
};
// parseCutOffTime into a CutOff; a null or empty text is no cut-off (NOERROR).
STATUS readCutOff(const char *text, CutOff *cutOff, TIME *reading = nullptr);

// RecoverDbs as a Result: its int carries a STATUS in the low 16 bits.
Result recoverBackupFile(const char *backupPath, const char *cutOffTime, int newDbiid,
                         int newRepid, int thirdOption, int noteMode);
// The same with the cut-off read already: the same call, lines and result.
Result recoverBackupFile(const char *backupPath, const CutOff &cutOff, int newDbiid, int newRepid,
                         int thirdOption, int noteMode);

}  // namespace nsfmend

extern "C" STATUS NoteCallback(DWORD action, void *context, NOTE_RECOVERY_INFO *info);

#endif
