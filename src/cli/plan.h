// Check, then act: every run that changes the server's files first resolves
// all of its inputs into one plan (the paths as the server will see them,
// the parsed cut-off, the log chain, each database's answer, every
// destination, the lock) before it changes anything, and is then carried
// out with what the plan resolved. OPT=CHECK prints the plan and its
// verdict; the run builds the same plan and carries it out only when it
// proceeds, or stops before its first change with the failing checks' own
// lines. A FAIL is certain: the run would surely fail there, or do harm.
// What only the server can judge stands in the plan as a note that says so.
#ifndef NSFMEND_CLI_PLAN_H
#define NSFMEND_CLI_PLAN_H

#include <stddef.h>

#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/findings.h"
#include "recovery/media_recovery.h"
#include "recovery/recover_db.h"
#include "recovery/restore_single.h"

namespace nsfmend {

enum class RunKind {
    kMediaRecovery,  // reset the log control state, recover every logged database
    kRecovery,       // roll one backup file forward in place
    kRestore,        // and then put it in place of a live database
};

// "media recovery", "recovery", "restore".
const char *runKindName(RunKind kind);

// Who asks: OPT=CHECK, which changes nothing and only looks whether a run
// holds the lock, or the run itself, which holds it already.
enum class Asker { kCheck, kRun };

struct Plan {
    RunKind kind = RunKind::kMediaRecovery;
    // Each step's finding, in the order the run meets them; a FAIL's run
    // line is what the run prints when it stops there.
    Findings findings;
    // A recovery or restore as it is carried out: IN= and OUT= resolved
    // once into absolute paths (a backup file lies anywhere and is named
    // from the working directory, as the server's recovery takes it; a live
    // database is named as the server names its databases, from the data
    // directory), the cut-off read once, the two requests.
    SingleRun single;
    // A media recovery as it is carried out: the log directory the reset
    // deletes the control file in, the cut-off read once, and the
    // databases in the sweep's order, each asked once; those that the plan
    // knows to fail carry their refusal and are not recovered.
    std::string logDir;
    CutOff cutOff;
    std::vector<SweepDatabase> databases;
    size_t failingDatabases = 0;

    // No FAIL stops the run (some databases may still fail).
    bool proceeds() const { return findings.proceeds(); }
    // No FAIL at all: the whole run would succeed.
    bool holds() const { return findings.holds(); }
};

// The plan of a run of `kind` with these settings. The runtime is started.
Plan buildPlan(const RunSettings &settings, RunKind kind, Asker asker);

}  // namespace nsfmend

#endif
