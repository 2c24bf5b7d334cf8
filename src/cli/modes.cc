// The two work modes of the driver. Everything they call prints its own
// lines; a mode only turns the 1/0 outcome into the exit status.
#include <stdio.h>

#include "cli/driver.h"
#include "logctrl/logctrl.h"
#include "recovery/media_recovery.h"
#include "recovery/restore_single.h"

int runSingleDatabaseMode(const RunSettings &s) {
    int ok = restoreSingleDatabase(s.operation, s.inputFile, s.restoreDb, s.cutOffTime, s.newDbiid,
                                   s.newRepid);
    return ok == 1 ? 0 : 1;
}

int runMediaRecoveryMode(const RunSettings &s) {
    // The log control state is reset before the sweep, so that the runtime
    // rebuilds it from the archived extents; a failed step stops the run.
    if (setRecreateLogControl(s.iniPath) != 1) return 1;
    if (removeLogControlFile(s.dataDir) != 1) return 1;
    printf("Running media recovery ...\n");
    int ok = restoreAllDatabases(s.operation, s.dataDir, s.dataDir, s.cutOffTime, s.newDbiid,
                                 s.newRepid);
    return ok == 1 ? 0 : 1;
}
