// Check, then act: every run that changes the server's files first resolves
// all of its inputs into one plan (the paths as the server will see them,
// the parsed cut-off, the log chain, each database's answer, every
// destination, the lock) before it changes anything. OPT=CHECK prints the
// plan and its verdict; the run builds the same plan and carries it out only
// when it holds, or stops before its first change with the failing checks'
// own lines. What only the server can judge stands in the plan as a note
// that says so, never as an "ok".
#ifndef NSFMEND_CLI_PLAN_H
#define NSFMEND_CLI_PLAN_H

#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/findings.h"

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
    // IN= and OUT= resolved once into absolute paths: the API calls, the
    // program's own file operations and its output all use these. A backup
    // file lies anywhere and is named from the working directory, as the
    // server's recovery takes it; a live database is named as the server
    // names its databases, from the data directory.
    std::string backupPath;
    std::string livePath;
    // A media recovery's databases, in the sweep's order: the run recovers
    // exactly these.
    std::vector<std::string> databases;

    bool holds() const { return findings.holds(); }
};

// The plan of a run of `kind` with these settings. The runtime is started.
Plan buildPlan(const RunSettings &settings, RunKind kind, Asker asker);


}  // namespace nsfmend

#endif
