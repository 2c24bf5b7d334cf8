// nsfmend OPT=CHECK: what a media recovery, a recovery or a restore would
// meet, asked before it runs. Every question goes through the operation the
// run itself uses (the listing, the logged query, the cut-off parse, the log
// directory, the OUT= rule, the run lock), so the preflight cannot judge
// otherwise than the run; and none of them changes anything: no prompt, no
// file written, no lock file made, no database taken offline or recovered.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "cli/driver.h"
#include "recovery/media_recovery.h"
#include "recovery/recover_db.h"
#include "recovery/restore_single.h"
#include "support/durable.h"
#include "support/progress.h"
#include "support/run_lock.h"
#include "support/sizes.h"
#include "support/text.h"
#include "translog/archive_check.h"
#include "translog/log_chain.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

// How many missing extents, or other names, one line names before it counts
// the rest.
constexpr size_t kNamesPerLine = 20;

enum class Mark { kOk, kFail, kNote };

// The checks' lines: "<mark> <subject>: <detail>", the mark padded to four
// columns; the verdict follows from the FAILs.
class Report {
public:
    void line(Mark mark, const char *subject, const std::string &detail) {
        static const char *const kMarks[] = {"ok", "FAIL", "note"};
        printf("%-4s %s: %s\n", kMarks[(int)mark], subject, detail.c_str());
        if (mark == Mark::kFail) failed_ = true;
    }
    bool failed() const { return failed_; }

private:
    bool failed_ = false;
};

// What the run would be: a media recovery without IN=, else a restore with
// OUT= and a recovery of the backup file without.
const char *plannedRun(const RunSettings &s) {
    if (s.inputFile[0] == '\0') return "media recovery";
    return s.restoreDb[0] != '\0' ? "restore" : "recovery";
}

std::string withReason(const std::string &text, int error) {
    return text + ", Reason=" + systemText(error);
}

// The reset reads notes.ini whole and replaces it through a temporary file.
void checkIni(Report *r, const char *iniPath) {
    std::string content;
    int error = readWholeFile(iniPath, &content);
    if (error != 0) {
        r->line(Mark::kFail, "notes.ini",
                withReason(std::string("Fail to open ") + iniPath, error));
        return;
    }
    error = checkReplaceable(iniPath);
    if (error != 0) {
        r->line(Mark::kFail, "notes.ini",
                withReason(std::string("Fail to edit ") + iniPath, error));
        return;
    }
    r->line(Mark::kOk, "notes.ini", std::string(iniPath) + " can be read and replaced");
}

void checkDataDirectory(Report *r, const char *dataDir) {
    struct stat st;
    if (stat(dataDir, &st) != 0) {
        r->line(Mark::kFail, "data directory", withReason(dataDir, lastError()));
    } else if (!S_ISDIR(st.st_mode)) {
        r->line(Mark::kFail, "data directory", withReason(dataDir, ENOTDIR));
    } else {
        r->line(Mark::kOk, "data directory", dataDir);
    }
}

std::string namesText(const std::vector<std::string> &names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i == kNamesPerLine) return text + ", and " + std::to_string(names.size() - i) + " more";
        text += (i > 0 ? ", " : "") + names[i];
    }
    return text;
}

// The extents the server would read: bare names, first to last, none
// missing between, each a readable regular file.
void checkExtents(Report *r, const std::string &logDir, const ExtentChain &chain) {
    if (chain.numbers.empty()) {
        r->line(Mark::kFail, "extents", "none in " + logDir);
    } else {
        const size_t count = chain.numbers.size();
        std::string detail = extentName(chain.numbers.front());
        if (count > 1) detail += " to " + extentName(chain.numbers.back());
        detail += ", " + std::to_string(count) + (count == 1 ? " extent" : " extents");
        if (chain.missing.empty())
            r->line(Mark::kOk, "extents", detail + ", none missing");
        else
            r->line(Mark::kFail, "extents",
                    detail + ", missing " + describeExtentRanges(chain.missing, kNamesPerLine));
    }
    for (const BadExtentFile &bad : chain.bad) {
        const std::string path = joinPath(logDir, bad.name);
        if (bad.notRegular)
            r->line(Mark::kFail, "extent", path + " is not a regular file");
        else
            r->line(Mark::kFail, "extent", withReason(path + " cannot be read", bad.error));
    }
    if (!chain.others.empty())
        r->line(Mark::kNote, "log directory",
                std::to_string(chain.others.size()) +
                    " other entries, not extents the server reads: " + namesText(chain.others));
}

// The log directory from TRANSLOG_Path and its extents. The directory, or
// "" when there is none to look at.
std::string checkLogDirectory(Report *r, const char *dataDir) {
    std::string logDir;
    const int resolved = resolveLogDirectory(dataDir, &logDir);
    if (resolved == ENOENT) {
        r->line(Mark::kFail, "log directory", kNoLogDirectoryText);
        return "";
    }
    if (resolved != 0) {
        r->line(Mark::kFail, "log directory", withReason(logDir, resolved));
        return "";
    }
    ExtentChain chain;
    const int listed = checkExtentChain(logDir.c_str(), ExtentNames::kBare, &chain);
    if (listed != 0) {
        r->line(Mark::kFail, "log directory", withReason(logDir + " cannot be listed", listed));
        return logDir;
    }
    r->line(Mark::kOk, "log directory", logDir);
    checkExtents(r, logDir, chain);
    return logDir;
}

// When the archive was copied into the log directory with its records, the
// extents there are checked against them: a lost newest extent, or one
// damaged or cut short, would otherwise be a recovery that succeeds short
// of the last transactions. Nothing is said when there are no records.
void checkLogAgainstRecords(Report *r, const std::string &logDir) {
    RecordCheck check;
    if (checkArchiveRecords(logDir.c_str(), ExtentNames::kBare, &check) != 0) return;
    const ArchiveRecords &records = check.records;
    if (records.records.empty()) return;
    r->line(Mark::kOk, "archive records",
            std::to_string(records.records.size()) + " in " + logDir + ", " +
                std::to_string(countMatches(check, RecordMatch::kMatches)) +
                " extents as recorded (size and SHA-256)");
    for (const RecordFault &fault : records.faults) {
        const std::string path = joinPath(logDir, fault.record);
        r->line(Mark::kFail, "archive record",
                fault.error != 0 ? withReason(path + " cannot be read", fault.error)
                                 : path + " is damaged at line " + std::to_string(fault.line));
    }
    std::vector<std::string> byNameOnly;
    for (const RecordFinding &f : check.findings) {
        const std::string path = joinPath(logDir, f.name);
        if (f.match == RecordMatch::kDiffers)
            r->line(Mark::kFail, "extent", path + " does not match archive record " + f.record +
                                               " (" + describeMismatch(f) + ")");
        else if (f.match == RecordMatch::kUnreadable)
            r->line(Mark::kFail, "extent", withReason(path + " cannot be read", f.error));
        else if (f.match == RecordMatch::kMissing)
            r->line(Mark::kFail, "extent", f.name + " listed in archive record " + f.record +
                                               " is not in " + logDir);
        else if (f.match == RecordMatch::kGrown)
            r->line(Mark::kNote, "extent", path + " has grown from what archive record " +
                                               f.record + " lists");
        else if (f.match == RecordMatch::kUnrecorded)
            byNameOnly.push_back(f.name);
    }
    if (check.logs.size() > 1)
        r->line(Mark::kFail, "archive records", "extents of " + std::to_string(check.logs.size()) +
                                                    " logs: " + describeLogs(check.logs));
    if (!byNameOnly.empty())
        r->line(Mark::kNote, "archive records",
                "no line for " + namesText(byNameOnly) + ": checked by name only");
}

// The reset deletes the log control file, so the runtime rebuilds it from
// the extents; a file there that the reset cannot delete stops the run.
void checkLogControlFile(Report *r, const std::string &logDir) {
    const std::string path = logControlFilePath(logDir);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        const int error = lastError();
        if (error == ENOENT)
            r->line(Mark::kNote, "log control file", path + " is not there");
        else
            r->line(Mark::kFail, "log control file",
                    withReason("Fail to delete log control file " + path, error));
        return;
    }
    const int error = accessAllowed(logDir.c_str(), W_OK | X_OK);
    if (error != 0) {
        r->line(Mark::kFail, "log control file",
                withReason("Fail to delete log control file " + path, error));
        return;
    }
    r->line(Mark::kNote, "log control file", path + " is there; the reset deletes it");
}

// The databases the sweep would visit, asked one by one as the sweep asks.
void checkDatabases(Report *r, const char *dataDir) {
    char message[kMessageSize];
    memset(message, 0, sizeof message);
    OwnedStringArray list = newStringArray();
    if (!list) {
        r->line(Mark::kFail, "databases", systemText(ENOMEM));
        return;
    }
    if (!listDatabases(dataDir, list.get(), dataDir, message)) {
        std::string text = message;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        r->line(Mark::kFail, "databases", text);
        return;
    }
    const int count = getArraySize(list.get());
    if (count == 0) {
        r->line(Mark::kNote, "databases", std::string("none under ") + dataDir);
        return;
    }
    int logged = 0, notLogged = 0;
    std::vector<std::string> failures;
    Progress progress;
    for (int position = 1; position <= count; ++position) {
        const char *path = getArrayItem(list.get(), position);
        if (path == nullptr) continue;
        progress.item(position, count, path);
        const LoggedQuery query = queryLogged(path);
        if (query.failedStep != nullptr)
            failures.push_back(describeLoggedFailure(path, query));
        else if (query.logged)
            ++logged;
        else
            ++notLogged;
    }
    progress.clear();
    std::string detail = std::to_string(count) + " found under " + dataDir + ": " +
                         std::to_string(logged) + " logged, " + std::to_string(notLogged) +
                         " not logged";
    if (!failures.empty()) detail += ", " + std::to_string(failures.size()) + " cannot be asked";
    r->line(failures.empty() ? Mark::kOk : Mark::kFail, "databases", detail);
    for (const std::string &failure : failures) r->line(Mark::kFail, "database", failure);
}

// The backup file: a logged database the recovery can roll forward in place.
void checkBackupFile(Report *r, const char *backupPath) {
    // IN= names a file as the restore's copy reads it, from the working
    // directory, while a database open takes a relative name from the data
    // directory: ask about the file the run will use.
    std::string path = backupPath;
    if (path[0] != '/') {
        char cwd[kPathSize];
        if (getcwd(cwd, sizeof cwd) != nullptr) path = joinPath(cwd, path);
    }
    const LoggedQuery query = queryLogged(path.c_str());
    if (query.failedStep != nullptr) {
        r->line(Mark::kFail, "backup file", describeLoggedFailure(backupPath, query));
        return;
    }
    if (!query.logged) {
        r->line(Mark::kFail, "backup file", std::string(backupPath) + " is not a logged database");
        return;
    }
    const int error = accessAllowed(path.c_str(), W_OK);
    if (error != 0) {
        r->line(Mark::kFail, "backup file",
                withReason(std::string(backupPath) + " cannot be rolled forward in place", error));
        return;
    }
    r->line(Mark::kOk, "backup file", std::string(backupPath) + " is a logged database");
}

// DATETIME= read as the recovery reads it, shown back as the GMT+0 reading.
void checkCutOffTime(Report *r, const char *cutOffTime) {
    if (cutOffTime[0] == '\0') {
        r->line(Mark::kNote, "cut-off time", "none: the recovery goes to the latest transaction");
        return;
    }
    TIMEDATE cutOff;
    TIME reading;
    const STATUS status = parseCutOffTime(cutOffTime, &cutOff, &reading);
    if (status != NOERROR) {
        char reason[kMessageSize];
        memset(reason, 0, sizeof reason);
        get_api_error_message(status, reason);
        r->line(Mark::kFail, "cut-off time",
                std::string("\"") + cutOffTime + "\" cannot be read, Reason=" + reason);
        return;
    }
    char when[64];
    (void)snprintf(when, sizeof when, "%02d/%02d/%04d %02d:%02d:%02d", reading.month, reading.day,
                   reading.year, reading.hour, reading.minute, reading.second);
    r->line(Mark::kOk, "cut-off time",
            std::string("\"") + cutOffTime + "\" reads as " + when + " GMT+0");
}

// OUT= under the restore's rule, and room beside it for the temporary copy.
void checkRestoreTarget(Report *r, const char *dbPath, const char *backupPath) {
    if (!isReplaceableDatabase(dbPath)) {
        r->line(Mark::kFail, "restore database", std::string("Fail to restore database ") + dbPath +
                                                     ", Reason=" + kNotRegularDatabase);
        return;
    }
    struct stat st;
    if (lstat(dbPath, &st) == 0)
        r->line(Mark::kOk, "restore database", std::string(dbPath) + " is a regular file");
    else
        r->line(Mark::kNote, "restore database",
                std::string(dbPath) + " is not there yet; the restore creates it");

    std::string folder, name;
    splitPath(dbPath, &folder, &name);
    const int error = accessAllowed(folder.c_str(), R_OK | W_OK | X_OK);
    if (error != 0) {
        r->line(Mark::kFail, "restore folder", withReason(folder + " takes no new file", error));
        return;
    }
    r->line(Mark::kOk, "restore folder", folder + " takes the temporary copy");

    struct stat backup;
    struct statvfs fs;
    if (stat(backupPath, &backup) != 0) return;  // the backup file's line says why
    if (statvfs(folder.c_str(), &fs) != 0) {
        r->line(Mark::kFail, "free space", withReason(folder, lastError()));
        return;
    }
    const unsigned long long available = (unsigned long long)fs.f_bavail * fs.f_frsize;
    const unsigned long long needed = (unsigned long long)backup.st_size;
    r->line(available >= needed ? Mark::kOk : Mark::kFail, "free space",
            sizeText((double)available, "bytes") + " free in " + folder +
                ", the copy of the backup file needs " + sizeText((double)needed, "bytes"));
}

// A restore and a media recovery take the run lock and stop when it is
// held; a recovery of a backup file changes only that file and takes none.
void checkRunLock(Report *r, const char *dataDir, bool taken) {
    const int error = probeRunLock(dataDir);
    if (error == 0) {
        r->line(taken ? Mark::kOk : Mark::kNote, "run lock",
                std::string("no other run holds ") + dataDir);
        return;
    }
    char why[kMessageSize];
    describeRunLockFailure(error, dataDir, why, sizeof why);
    if (taken)
        r->line(Mark::kFail, "run lock", why);
    else
        r->line(Mark::kNote, "run lock",
                std::string(why) + " (a recovery of a backup file does not take the lock)");
}

int verdict(const Report &r, const RunSettings &s) {
    printf("Verdict: the %s would %s\n", plannedRun(s), r.failed() ? "fail" : "proceed");
    return r.failed() ? 1 : 0;
}

}  // namespace

int runPreflight(const RunSettings &s) {
    Report r;
    printf("Preflight of a %s (nothing is changed):\n", plannedRun(s));
    if (s.inputFile[0] == '\0') {
        checkIni(&r, s.iniPath);
        checkDataDirectory(&r, s.dataDir);
        const std::string logDir = checkLogDirectory(&r, s.dataDir);
        if (!logDir.empty()) checkLogAgainstRecords(&r, logDir);
        if (!logDir.empty()) checkLogControlFile(&r, logDir);
        checkDatabases(&r, s.dataDir);
        checkRunLock(&r, s.dataDir, true);
        return verdict(r, s);
    }
    const bool restore = s.restoreDb[0] != '\0';
    checkDataDirectory(&r, s.dataDir);
    checkBackupFile(&r, s.inputFile);
    checkCutOffTime(&r, s.cutOffTime);
    if (restore) checkRestoreTarget(&r, s.restoreDb, s.inputFile);
    (void)checkLogDirectory(&r, s.dataDir);
    checkRunLock(&r, s.dataDir, restore);
    return verdict(r, s);
}

int reportPreflightWithoutRuntime(const RunSettings &s) {
    Report r;
    r.line(Mark::kFail, "runtime", std::string("did not start with ") + s.iniPath);
    return verdict(r, s);
}

}  // namespace nsfmend
