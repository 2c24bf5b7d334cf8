// The two work modes of the driver. Each first builds the run's plan
// (cli/plan.h) and changes nothing unless it holds; then everything they
// call prints its own lines, and a mode only turns the 1/0 outcome into the
// exit status.
#include <stdio.h>

#include <string_view>

#include "cli/driver.h"
#include "cli/plan.h"
#include "logctrl/logctrl.h"
#include "recovery/media_recovery.h"
#include "recovery/restore_single.h"
#include "support/run_lock.h"

namespace nsfmend {
namespace {

// A run that changes the server's files holds the data directory's run
// lock; a second one stops here, before it has changed anything.
bool lockRun(const RunSettings &s, RunLock *lock) {
    const Result taken = lock->take(s.dataDir);
    if (taken.isOk()) return true;
    printf("%s\n", taken.explanation().c_str());
    return false;
}

// The plan of the run, or false after the failing steps' own lines.
bool planProceeds(const RunSettings &s, RunKind kind, Plan *plan) {
    *plan = buildPlan(s, kind, Asker::kRun);
    if (plan->proceeds()) return true;
    printStopLines(plan->findings);
    return false;
}

}  // namespace

int runSingleDatabaseMode(const RunSettings &s) {
    const std::string_view op = s.operation;
    // Any other operation text does nothing, as restoreSingleDatabase says.
    if (op != "RECOVER" && op != "NOTE" && op != "RESTORE") return 0;
    // Recovering a backup file changes only that file; a restore replaces a
    // live database.
    const RunKind kind = op == "RESTORE" ? RunKind::kRestore : RunKind::kRecovery;
    RunLock lock;
    if (kind == RunKind::kRestore && !lockRun(s, &lock)) return 1;
    Plan plan;
    if (!planProceeds(s, kind, &plan)) return 1;
    // The paths, the cut-off and the answers as the plan resolved them.
    return carryOutSingleRun(plan.single) == 1 ? 0 : 1;
}

int runMediaRecoveryMode(const RunSettings &s) {
    RunLock lock;
    if (!lockRun(s, &lock)) return 1;
    Plan plan;
    if (!planProceeds(s, RunKind::kMediaRecovery, &plan)) return 1;
    // The log control state is reset before the sweep, so that the runtime
    // rebuilds it from the archived extents; a failed step stops the run.
    if (setRecreateLogControl(s.iniPath) != 1) return 1;
    if (removeLogControlFileIn(plan.logDir) != 1) return 1;
    printf("Running media recovery ...\n");
    // The databases the plan listed and asked, with its answers, and no
    // others; the ones it knows to fail are named, the others recovered.
    int ok = recoverListedDatabases(plan.databases, plan.cutOff, s.newDbiid, s.newRepid);
    return ok == 1 ? 0 : 1;
}

}  // namespace nsfmend
