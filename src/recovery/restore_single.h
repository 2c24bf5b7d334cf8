// One backup file: recover it, and on "RESTORE" put it in place of a live
// database (offline, copy over, online).
#ifndef NSFMEND_RECOVERY_RESTORE_SINGLE_H
#define NSFMEND_RECOVERY_RESTORE_SINGLE_H

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"
#include "recovery/media_recovery.h"
#include "recovery/recover_db.h"
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

namespace nsfmend {

// One backup file's run as its plan resolved it.
struct SingleRun {
    std::string operation;   // "RECOVER", "NOTE" or "RESTORE"
    std::string backupPath;  // as the recovery and the copy name it
    std::string livePath;    // the database a restore replaces; empty: recovery only
    CutOff cutOff;
    int newDbiid = 0;
    int newRepid = 0;
};

// restoreSingleDatabase's steps for a run whose questions were asked before
// (the cut-off read, the live database's refusal): the same lines and result.
int carryOutSingleRun(const SingleRun &run);

// The lines these steps print when they fail, so that a plan foreseeing a
// failure says it in the step's own words.
// " Fail to recover database <backup>, Reason=<reason>".
std::string recoveryFailureLine(std::string_view backupPath, std::string_view reason);
// The line of a failure of `step` while dbPath is replaced.
std::string restoreFailureLine(RestoreStep step, std::string_view dbPath, const Result &why);

// The recovery step's questions about the backup file, asked without
// changing it: a regular file (a FIFO would hold the server's open for
// ever), a database the server opens. ok with *answer (logged or not);
// otherwise the failure with the step's own line as its text.
Result checkBackupFile(const char *backupPath, LoggedQuery *answer);

}  // namespace nsfmend

#endif
