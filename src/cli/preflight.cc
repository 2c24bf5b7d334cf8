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
#include "cli/report.h"
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

// The findings and the verdict, in the run's form.
int say(const RunSettings &s, Findings findings, const std::string &verdict, int exitStatus,
        bool judged) {
    Report report;
    report.command = "CHECK";
    report.checkedRun = runKindName(checkedRun(s));
    report.findings = std::move(findings);
    report.verdict = std::string("the ") + report.checkedRun + " " + verdict;
    report.exitStatus = exitStatus;
    report.judged = judged;
    return deliverReport(std::move(report), s);
}

// 0 when the run would succeed; 1 when it would stop, or go on and fail
// for some of its databases (its own exit status then).
int verdict(const RunSettings &s, const Plan &plan, bool judged = true) {
    if (!plan.proceeds()) return say(s, plan.findings, "would fail", 1, judged);
    if (plan.holds()) return say(s, plan.findings, "would proceed", 0, judged);
    const size_t failing = plan.failingDatabases;
    return say(s, plan.findings,
               "would proceed, and fail for " + std::to_string(failing) +
                   (failing == 1 ? " database" : " databases") + " named above",
               1, judged);
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
    Findings findings;
    findings.add(Mark::kNote, "runtime",
                 std::string("not started: ") + s.iniPath +
                     " sets TRANSLOG_Recreate_Logctrl=1 and the log control file is missing, so "
                     "starting the runtime would rebuild it; what needs the runtime is not checked");
    return say(s, findings, "cannot be checked without a change (exit status 2)", 2, false);
}

int runPreflight(const RunSettings &s) {
    heading(s);
    const Plan plan = buildPlan(s, checkedRun(s), Asker::kCheck);
    return verdict(s, plan);
}

int reportPreflightWithoutRuntime(const RunSettings &s) {
    Plan plan;
    plan.findings.add(Mark::kFail, "runtime", std::string("did not start with ") + s.iniPath);
    return verdict(s, plan, false);
}

}  // namespace nsfmend
