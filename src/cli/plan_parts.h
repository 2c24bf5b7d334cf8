// The parts of a run's plan, each a file of its own: the log's questions
// (plan_log.cc), the targets' questions (plan_targets.cc), and the order of
// the steps with the verdict (plan.cc). They pass what they found as values;
// none keeps state of its own.
#ifndef NSFMEND_CLI_PLAN_PARTS_H
#define NSFMEND_CLI_PLAN_PARTS_H

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

#include "cli/findings.h"
#include "cli/plan.h"
#include "notesapi/notesapi.h"
#include "translog/log_chain.h"

namespace nsfmend {

// ------------------------------------------------------------ the log

// An extent of the log directory that cannot serve a recovery reading it:
// lost, no readable regular file, or not what its archive record says.
struct ExtentFault {
    ExtentRange extents;
    std::string finding;  // the finding's subject ...
    std::string detail;   // ... and its detail, as the check prints it
    std::string reason;   // what a database's recovery meets there
};

// The log directory and what a recovery would read there.
struct LogView {
    bool known = false;  // resolved and listed
    std::string dir;
    ExtentChain chain;
    std::vector<ExtentFault> faults;  // in extent order
    // The log ID each extent's archive record gives, where records are in
    // the log directory, with the record that gives it.
    std::map<DWORD, std::pair<std::string, std::string>> recordedLog;
    // The bytes of the extents from `first` on: at most what a recovery
    // starting there replays into a database.
    unsigned long long bytesFrom(DWORD first) const;
};

// TRANSLOG_Path resolved (the one resolver) and the log directory listed as
// the server reads it: its own line, then the extents' lines (missing,
// unreadable, other names) judged later by judgeLog. dataDir as the
// runtime reports it.
LogView askLogDirectory(const char *dataDir, Findings *findings);
// Archive records copied into the log directory with the extents: each
// extent's log ID, and extents that are not what was archived. Nothing is
// said when there are none.
void askArchiveRecords(LogView *log, Findings *findings);
// The log control file: for a media recovery, whether the reset can delete
// it; else whether the server can read it. runLine of a FAIL as the reset
// prints it.
void askLogControlFile(const LogView &log, RunKind kind, Findings *findings);

// One recovery that reads the log: a database (or backup file) from the
// extent its last change went to.
struct LogReader {
    std::string path;
    DWORD start = 0;  // 0: the server gives none
    UNID logId{};
    // Set by judgeLog when the recovery surely fails on the log: the reason,
    // as the run's line gives it.
    std::string failure;
};

// How a run reads the log.
struct LogReading {
    bool cutOff = false;  // a cut-off: how far each recovery reads is the server's to decide
    // A change the server logged after the last extent there: the log must
    // reach that far (the live database at OUT=, in the backup's log).
    DWORD newestChange = 0;
    std::string newestWho;
};

// Sets each reader's failure where its recovery surely fails on the log:
// its own first extent lost or unusable, of another log than its own (by
// the archive records), or, without a cut-off, any fault after it.
void judgeReaders(const LogView &log, const LogReading &reading, std::vector<LogReader> *readers);
// The extents' findings, inserted at position `at` (after the log
// directory's own line): each fault a FAIL (of `scope`) where some reader
// surely meets it, a note where only the cut-off decides or no reader
// reaches it; then each failing reader's own line where the faults' lines
// do not say it already. Gives how many lines were inserted.
size_t sayExtents(const LogView &log, const LogReading &reading,
                  const std::vector<LogReader> &readers, Scope scope, Findings *findings, size_t at);

// ------------------------------------------------------------ the targets

// notes.ini: the reset's own question (checkRecreateLogControl).
void askIniFile(const char *iniPath, Findings *findings);
// The data directory is there and a folder; false when not.
bool askDataDirectory(const char *dataDir, Findings *findings);
// DATETIME= read once as the recovery reads it. runLine of a FAIL: the
// recovery's line for backupPath when there is one backup file.
void askCutOff(const char *text, const std::string &backupPath, CutOff *cutOff,
               Findings *findings);

// A database a recovery rolls forward where it lies: its folder takes the
// recovery's new copy, with room for at least the file itself. failure:
// empty when it may, else the finding's detail, and reason what the
// recovery meets; note: what only the server can settle (a read-only file,
// room for every change it may replay).
struct Recoverable {
    std::string failure;
    std::string reason;
    std::string note;
};
Recoverable askRecoverable(const std::string &path, const LogView &log, DWORD start);

// The backup file of a recovery or restore, asked once. Its reader for
// judgeLog, unless the file cannot serve (then a FAIL is said).
struct BackupAnswer {
    bool usable = false;
    LogReader reader;
};
BackupAnswer askBackupFile(const std::string &path, Findings *findings);

// OUT= under the restore's rules: may be replaced, its folder, the offline
// mark, the copy's source and room; a database not there yet asked of the
// server. *newest: the extent of the live database's last change when it is
// in the backup's log (else left as it was).
void askRestoreTarget(const std::string &livePath, const std::string &backupPath,
                      const LogView &log, const LogReader &backup, DWORD *newest,
                      Findings *findings);

// A media recovery's databases, listed and each asked once, in the sweep's
// order; false after the listing's FAIL.
bool askDatabases(const char *dataDir, std::vector<SweepDatabase> *databases, Findings *findings);
// The logged ones as readers of the log, in list order.
std::vector<LogReader> readersOf(const std::vector<SweepDatabase> &databases);
// What the plan says of one database of the sweep.
struct DatabaseFinding {
    Mark mark;
    std::string detail;
    std::string runLine;
    bool fromLog = false;  // a FAIL for the log: the extents' lines say it already
};
struct SweepCount {
    size_t logged = 0;
    size_t notLogged = 0;
    size_t unasked = 0;  // could not be asked: neither logged nor not
    size_t refused = 0;  // logged, and known to fail
};
// Sets each database's refusal where its recovery is known to fail (a
// reader's failure, a folder or file system that takes no new copy) and
// collects what is said of each, in list order.
SweepCount refuseDatabases(const LogView &log, const std::vector<LogReader> &readers,
                           std::vector<SweepDatabase> *databases,
                           std::vector<DatabaseFinding> *said);
// The databases' findings: the summary, then what is said of each; a FAIL
// of `scope`, and of one for the log left out when it stops the run (the
// extents' lines say it).
void sayDatabases(const char *dataDir, size_t found, const SweepCount &count,
                  const std::vector<DatabaseFinding> &said, Scope scope, Findings *findings);

// The run lock: held by no other run (the check only looks).
void askRunLock(const char *dataDir, bool taken, Asker asker, Findings *findings);

}  // namespace nsfmend

#endif
