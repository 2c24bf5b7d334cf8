// The two work modes of the driver. Everything they call prints its own
// lines; a mode only turns the 1/0 outcome into the exit status.
#include <stdio.h>
#include <string.h>

#include "cli/driver.h"
#include "logctrl/logctrl.h"
#include "recovery/media_recovery.h"
#include "recovery/restore_single.h"
#include "support/run_lock.h"
#include "support/sizes.h"

namespace nsfmend {
namespace {

// A run that changes the server's files holds the data directory's run
// lock; a second one stops here, before it has changed anything.
bool lockRun(const RunSettings &s, RunLock *lock) {
    char why[kMessageSize];
    if (lock->acquireOrExplain(s.dataDir, why)) return true;
    printf("%s\n", why);
    return false;
}

}  // namespace

int runSingleDatabaseMode(const RunSettings &s) {
    // Recovering a backup file changes only that file; a restore replaces a
    // live database.
    RunLock lock;
    if (strcmp(s.operation, "RESTORE") == 0 && !lockRun(s, &lock)) return 1;
    int ok = restoreSingleDatabase(s.operation, s.inputFile, s.restoreDb, s.cutOffTime, s.newDbiid,
                                   s.newRepid);
    return ok == 1 ? 0 : 1;
}

int runMediaRecoveryMode(const RunSettings &s) {
    RunLock lock;
    if (!lockRun(s, &lock)) return 1;
    // The log control state is reset before the sweep, so that the runtime
    // rebuilds it from the archived extents; a failed step stops the run.
    if (setRecreateLogControl(s.iniPath) != 1) return 1;
    if (removeLogControlFile(s.dataDir) != 1) return 1;
    printf("Running media recovery ...\n");
    int ok = restoreAllDatabases(s.operation, s.dataDir, s.dataDir, s.cutOffTime, s.newDbiid,
                                 s.newRepid);
    return ok == 1 ? 0 : 1;
}

}  // namespace nsfmend
