// nsfmend OPT=CHECK: the plan of the run the other arguments ask for, shown
// before it runs. It is the plan the run builds itself (cli/plan.h), so the
// two cannot judge apart; and building it changes nothing: no prompt, no
// file written, no lock taken or made, no database taken offline or
// recovered.
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "cli/driver.h"
#include "cli/plan.h"
#include "logctrl/logctrl.h"
#include "support/durable.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

// Without IN= a media recovery is checked; with it a restore when OUT= is
// given too, else a recovery of the backup file alone.
RunKind checkedRun(const RunSettings &s) {
    if (s.inputFile[0] == '\0') return RunKind::kMediaRecovery;
    return s.restoreDb[0] != '\0' ? RunKind::kRestore : RunKind::kRecovery;
}

void heading(const RunSettings &s) {
    printf("Preflight of a %s (nothing is changed):\n", runKindName(checkedRun(s)));
}

// 0 when the run would succeed; 1 when it would stop, or go on and fail
// for some of its databases (its own exit status then).
int verdict(const RunSettings &s, const Plan &plan) {
    const char *run = runKindName(checkedRun(s));
    if (!plan.proceeds()) {
        printf("Verdict: the %s would fail\n", run);
        return 1;
    }
    if (plan.holds()) {
        printf("Verdict: the %s would proceed\n", run);
        return 0;
    }
    printf("Verdict: the %s would proceed, and fail for %zu %s named above\n", run,
           plan.failingDatabases, plan.failingDatabases == 1 ? "database" : "databases");
    return 1;
}

}  // namespace

bool preflightMustNotStartRuntime(const RunSettings &s) {
    std::string content;
    if (readWholeFile(s.iniPath, &content) != 0 || !asksToRecreateLogControl(content)) return false;
    // A runtime started with that setting rebuilds the log control file only
    // when there is none. Without the runtime, the file is looked for where
    // notes.ini says: the log directory of TRANSLOG_Path, by the rule the
    // runtime's own value is resolved with, a relative one in the data
    // directory the runtime would report.
    std::string logDir;
    if (logDirectoryFrom(iniDataDirectory(s.iniPath, content), iniSetting(content, "TRANSLOG_Path"),
                         &logDir) != 0)
        return true;
    struct stat st;
    return stat(logControlFilePath(logDir).c_str(), &st) != 0 || !S_ISREG(st.st_mode);
}

int reportPreflightWithoutStart(const RunSettings &s) {
    heading(s);
    printf("note runtime: not started: %s sets TRANSLOG_Recreate_Logctrl=1 and the log control "
           "file is missing, so starting the runtime would rebuild it; what needs the runtime is "
           "not checked\n",
           s.iniPath);
    printf("Verdict: the %s cannot be checked without a change (exit status 2)\n",
           runKindName(checkedRun(s)));
    return 2;
}

int runPreflight(const RunSettings &s) {
    heading(s);
    const Plan plan = buildPlan(s, checkedRun(s), Asker::kCheck);
    printFindings(plan.findings);
    return verdict(s, plan);
}

int reportPreflightWithoutRuntime(const RunSettings &s) {
    Plan plan;
    plan.findings.add(Mark::kFail, "runtime", std::string("did not start with ") + s.iniPath);
    printFindings(plan.findings);
    return verdict(s, plan);
}

}  // namespace nsfmend
