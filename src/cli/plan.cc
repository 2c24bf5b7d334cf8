// The order of a plan's steps and its verdict: each step asks through the
// operation the run itself uses (the listing, the logged query, the cut-off
// parse, the log directory, the OUT= rule, the reset's and the copy's own
// questions), so the plan cannot judge otherwise than the run; the log is
// judged last, once it is known who reads it and how far.
#include "cli/plan.h"

#include "cli/plan_parts.h"
#include "support/path.h"

namespace nsfmend {
namespace {

void serverJudges(Findings *findings) {
    findings->add(Mark::kNote, "recovery",
                  "the server itself decides whether the extents' content is sound, whether the "
                  "cut-off lies after each database's last change, and whether each database "
                  "belongs to this server's log");
}

// Where who reads the log is not known (the databases could not be listed,
// the backup file cannot serve), the extents are judged for a recovery
// from the first one.
void readFromTheFirst(const LogView &log, std::vector<LogReader> *readers) {
    if (!log.chain.numbers.empty())
        readers->push_back(LogReader{"", log.chain.numbers.front(), UNID{}, ""});
}

void mediaPlan(const RunSettings &s, Asker asker, Plan *plan) {
    Findings &findings = plan->findings;
    askIniFile(s.iniPath, &findings);
    if (!askDataDirectory(s.dataDir, &findings)) return;
    LogView log = askLogDirectory(s.dataDir, &findings);
    const size_t extentsAt = findings.size();
    askArchiveRecords(&log, &findings);
    askLogControlFile(log, RunKind::kMediaRecovery, &findings);
    askCutOff(s.cutOffTime, "", &plan->cutOff, &findings);
    plan->logDir = log.dir;

    const bool listed = askDatabases(s.dataDir, &plan->databases, &findings);
    std::vector<LogReader> readers = readersOf(plan->databases);
    LogReading reading;
    reading.cutOff = plan->cutOff.given;
    judgeReaders(log, reading, &readers);
    std::vector<DatabaseFinding> said;
    const SweepCount count = refuseDatabases(log, readers, &plan->databases, &said);
    plan->failingDatabases = count.unasked + count.refused;
    // A database that cannot be recovered fails alone, and the others are
    // recovered; only when none would be is the reset not worth making.
    const bool noneRecovered = plan->failingDatabases > 0 && count.refused == count.logged;
    const Scope reach = noneRecovered ? Scope::kRun : Scope::kItem;
    if (listed) sayDatabases(s.dataDir, plan->databases.size(), count, said, reach, &findings);
    if (!listed) readFromTheFirst(log, &readers);
    sayExtents(log, reading, readers, listed ? reach : Scope::kRun, &findings, extentsAt);
    askRunLock(s.dataDir, true, asker, &findings);
    serverJudges(&findings);
}

void singlePlan(const RunSettings &s, RunKind kind, Asker asker, Plan *plan) {
    Findings &findings = plan->findings;
    SingleRun &run = plan->single;
    if (!askDataDirectory(s.dataDir, &findings)) return;
    LogView log = askLogDirectory(s.dataDir, &findings);
    const size_t extentsAt = findings.size();
    askArchiveRecords(&log, &findings);
    askLogControlFile(log, kind, &findings);

    const BackupAnswer backup = askBackupFile(run.backupPath, &findings);
    std::vector<LogReader> readers;
    if (backup.usable) {
        readers.push_back(backup.reader);
        const Recoverable recoverable = askRecoverable(run.backupPath, log, backup.reader.start);
        if (!recoverable.note.empty()) findings.add(Mark::kNote, "backup file", recoverable.note);
        if (!recoverable.failure.empty())
            findings.add(Mark::kFail, "backup file", recoverable.failure);
        else
            findings.add(Mark::kOk, "backup file", run.backupPath + " is a logged database");
    }
    askCutOff(s.cutOffTime, run.backupPath, &run.cutOff, &findings);
    plan->cutOff = run.cutOff;

    LogReading reading;
    reading.cutOff = run.cutOff.given;
    if (kind == RunKind::kRestore) {
        askRestoreTarget(run.livePath, run.backupPath, log,
                         backup.usable ? backup.reader : LogReader{}, &reading.newestChange,
                         &findings);
        reading.newestWho = run.livePath;
    }
    judgeReaders(log, reading, &readers);
    if (!backup.usable) readFromTheFirst(log, &readers);
    sayExtents(log, reading, readers, Scope::kRun, &findings, extentsAt);
    askRunLock(s.dataDir, kind == RunKind::kRestore, asker, &findings);
    serverJudges(&findings);
}

}  // namespace

const char *runKindName(RunKind kind) {
    switch (kind) {
        case RunKind::kMediaRecovery: return "media recovery";
        case RunKind::kRecovery: return "recovery";
        case RunKind::kRestore: return "restore";
    }
    return "run";
}

Plan buildPlan(const RunSettings &s, RunKind kind, Asker asker) {
    Plan plan;
    plan.kind = kind;
    if (kind == RunKind::kMediaRecovery) {
        mediaPlan(s, asker, &plan);
        return plan;
    }
    SingleRun &run = plan.single;
    run.operation = s.operation;
    run.backupPath = resolveBackupPath(s.inputFile);
    if (kind == RunKind::kRestore) run.livePath = resolveServerPath(s.dataDir, s.restoreDb);
    run.newDbiid = s.newDbiid;
    run.newRepid = s.newRepid;
    singlePlan(s, kind, asker, &plan);
    return plan;
}

}  // namespace nsfmend
