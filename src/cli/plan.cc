// The plan of a run: every input resolved and every destination asked, in
// the order the run meets them, before anything is changed. Each question
// goes through the operation the run itself uses (the listing, the logged
// query, the cut-off parse, the log directory, the OUT= rule, the durable
// writer's questions), so the plan cannot judge otherwise than the run.
#include "cli/plan.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

#include "cli/lines.h"
#include "logctrl/logctrl.h"
#include "recovery/media_recovery.h"
#include "recovery/recover_db.h"
#include "recovery/restore_single.h"
#include "support/durable.h"
#include "support/path.h"
#include "support/raii.h"
#include "support/result.h"
#include "support/run_lock.h"
#include "support/sizes.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/archive_check.h"
#include "translog/log_chain.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

std::string apiText(STATUS status) { return Result::api(status).reason(); }

// Whether the file system under folder takes `bytes` more and one more
// file: 0, ENOSPC (no room, or no free inode), or the errno of asking.
int roomFor(const std::string &folder, unsigned long long bytes, unsigned long long *available) {
    struct statvfs fs;
    if (statvfs(folder.c_str(), &fs) != 0) return lastError();
    *available = (unsigned long long)fs.f_bavail * fs.f_frsize;
    // A new file takes whole blocks, and one inode where the file system
    // counts them.
    const unsigned long long block = fs.f_frsize != 0 ? fs.f_frsize : 4096;
    const unsigned long long needed = (bytes + block - 1) / block * block + block;
    if (*available < needed) return ENOSPC;
    if (fs.f_files != 0 && fs.f_favail == 0) return ENOSPC;
    return 0;
}

std::string roomText(const std::string &folder, unsigned long long available,
                     unsigned long long needed, const char *what) {
    return sizeText((double)available, "bytes") + " free in " + folder + ", " + what + " needs " +
           sizeText((double)needed, "bytes");
}

// 0 when folder holds nothing (remove() takes it then), ENOTEMPTY when it
// holds anything, or the errno of listing it.
int emptyFolder(const std::string &folder) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return lastError();
    UniqueDir owner(dir);
    errno = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): our own stream; readdir is safe per stream
    while (const struct dirent *entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") return ENOTEMPTY;
    }
    return errno != 0 ? lastError() : 0;
}

// The log directory and what the server would read there.
struct LogView {
    bool known = false;  // resolved and listed
    std::string dir;
    ExtentChain chain;
    unsigned long long bytesFrom(DWORD first) const;
};

unsigned long long LogView::bytesFrom(DWORD first) const {
    unsigned long long total = 0;
    for (DWORD number : chain.numbers) {
        if (number < first) continue;
        struct stat st;
        if (stat(joinPath(dir, extentName(number)).c_str(), &st) == 0)
            total += (unsigned long long)st.st_size;
    }
    return total;
}

class Planner {
public:
    Planner(const RunSettings &s, RunKind kind, Asker asker, Plan *plan)
        : s_(s), kind_(kind), asker_(asker), plan_(plan) {}

    void media();
    void single();

private:
    void iniFile();
    bool dataDirectory();
    void logDirectory();
    void archiveRecords();
    void logControlFile();
    void databases();
    void backupFile();
    void cutOffTime();
    void restoreTarget();
    void neededExtents(const std::string &path, DWORD logExtent);
    void newestExtents();
    void runLock(bool taken);
    void serverJudges();
    // The checks a database to be rolled forward in place gets: its folder
    // takes the recovery's new copy, and it has room for it.
    bool recoverable(const char *subject, const std::string &path, DWORD logExtent,
                     unsigned long long size);

    void add(Mark mark, const char *subject, std::string detail, std::string runLine = "") {
        plan_->findings.add(mark, subject, std::move(detail), std::move(runLine));
    }

    const RunSettings &s_;
    RunKind kind_;
    Asker asker_;
    Plan *plan_;
    LogView log_;
    DWORD newest_ = 0;        // the newest extent a database of the data directory names
    DWORD backupExtent_ = 0;  // where the backup file's recovery starts reading
};

// The reset reads notes.ini whole and replaces it through a temporary file
// beside it: readable, replaceable, and room for the new copy.
void Planner::iniFile() {
    const char *ini = s_.iniPath;
    std::string content;
    int error = readWholeFile(ini, &content);
    if (error != 0) {
        add(Mark::kFail, "notes.ini", withReason(std::string("Fail to open ") + ini, error),
            std::string("Fail to open ") + ini);
        return;
    }
    error = checkReplaceable(ini);
    unsigned long long available = 0;
    const std::string rewritten = withRecreateLogControl(content);
    if (error == 0) error = roomFor(parentOf(ini), rewritten.size(), &available);
    if (error != 0) {
        add(Mark::kFail, "notes.ini", withReason(std::string("Fail to edit ") + ini, error),
            std::string("Fail to edit ") + ini);
        return;
    }
    add(Mark::kOk, "notes.ini", std::string(ini) + " can be read and replaced");
}

bool Planner::dataDirectory() {
    struct stat st;
    const char *dir = s_.dataDir;
    if (stat(dir, &st) != 0) {
        add(Mark::kFail, "data directory", withReason(dir, lastError()));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        add(Mark::kFail, "data directory", withReason(dir, ENOTDIR));
        return false;
    }
    add(Mark::kOk, "data directory", dir);
    return true;
}

// The log directory from TRANSLOG_Path, and the extents the server would
// read there: bare names, first to last, none missing between, each a
// readable regular file.
void Planner::logDirectory() {
    const int resolved = resolveLogDirectory(s_.dataDir, &log_.dir);
    if (resolved == ENOENT) {
        add(Mark::kFail, "log directory", kNoLogDirectoryText, kNoLogDirectoryText);
        return;
    }
    if (resolved != 0) {
        add(Mark::kFail, "log directory", withReason(log_.dir, resolved));
        return;
    }
    const int listed = checkExtentChain(log_.dir.c_str(), ExtentNames::kBare, &log_.chain);
    if (listed != 0) {
        add(Mark::kFail, "log directory", withReason(log_.dir + " cannot be listed", listed));
        return;
    }
    log_.known = true;
    add(Mark::kOk, "log directory", log_.dir);
    const ExtentChain &chain = log_.chain;
    if (chain.numbers.empty()) {
        add(Mark::kFail, "extents", "none in " + log_.dir);
    } else {
        const size_t count = chain.numbers.size();
        std::string detail = extentName(chain.numbers.front());
        if (count > 1) detail += " to " + extentName(chain.numbers.back());
        detail += ", " + std::to_string(count) + (count == 1 ? " extent" : " extents");
        if (chain.missing.empty())
            add(Mark::kOk, "extents", detail + ", none missing");
        else
            add(Mark::kFail, "extents",
                detail + ", missing " + describeExtentRanges(chain.missing, kNamesPerLine));
    }
    for (const BadExtentFile &bad : chain.bad) {
        const std::string path = joinPath(log_.dir, bad.name);
        if (bad.notRegular)
            add(Mark::kFail, "extent", path + " is not a regular file");
        else
            add(Mark::kFail, "extent", withReason(path + " cannot be read", bad.error));
    }
    if (!chain.others.empty())
        add(Mark::kNote, "log directory",
            std::to_string(chain.others.size()) +
                " other entries, not extents the server reads: " + namesText(chain.others));
}

// When the archive was copied into the log directory with its records, the
// extents there are checked against them: a lost newest extent, or one
// damaged or cut short, would otherwise be a recovery that succeeds short
// of the last transactions. Nothing is said when there are no records.
void Planner::archiveRecords() {
    if (!log_.known) return;
    const std::string &logDir = log_.dir;
    RecordCheck check;
    if (checkArchiveRecords(logDir.c_str(), ExtentNames::kBare, &check) != 0) return;
    const ArchiveRecords &records = check.records;
    if (records.records.empty()) return;
    add(Mark::kOk, "archive records",
        std::to_string(records.records.size()) + " in " + logDir + ", " +
            std::to_string(countMatches(check, RecordMatch::kMatches)) +
            " extents as recorded (size and SHA-256)");
    for (const RecordFault &fault : records.faults) {
        const std::string path = joinPath(logDir, fault.record);
        add(Mark::kFail, "archive record",
            fault.error != 0 ? withReason(path + " cannot be read", fault.error)
                             : path + " is damaged at line " + std::to_string(fault.line));
    }
    std::vector<std::string> byNameOnly;
    for (const RecordFinding &f : check.findings) {
        const std::string path = joinPath(logDir, f.name);
        if (f.match == RecordMatch::kDiffers)
            add(Mark::kFail, "extent",
                path + " does not match archive record " + f.record + " (" + describeMismatch(f) + ")");
        else if (f.match == RecordMatch::kUnreadable)
            add(Mark::kFail, "extent", withReason(path + " cannot be read", f.error));
        else if (f.match == RecordMatch::kMissing)
            add(Mark::kFail, "extent",
                f.name + " listed in archive record " + f.record + " is not in " + logDir);
        else if (f.match == RecordMatch::kGrown)
            add(Mark::kNote, "extent",
                path + " has grown from what archive record " + f.record + " lists");
        else if (f.match == RecordMatch::kUnrecorded)
            byNameOnly.push_back(f.name);
    }
    if (check.logs.size() > 1)
        add(Mark::kFail, "archive records",
            "extents of " + std::to_string(check.logs.size()) + " logs: " + describeLogs(check.logs));
    if (!byNameOnly.empty())
        add(Mark::kNote, "archive records",
            "no line for " + namesText(byNameOnly) + ": checked by name only");
}

// A media recovery's reset deletes the log control file, so the runtime
// rebuilds it from the extents; a recovery or a restore has the server read
// it. Either way the program can tell whether the file can serve, never
// whether its content is sound.
void Planner::logControlFile() {
    if (!log_.known) return;
    const std::string path = logControlFilePath(log_.dir);
    const std::string deleteLine = logControlDeletionFailure(path);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        const int error = lastError();
        if (error != ENOENT)
            add(Mark::kFail, "log control file", withReason(deleteLine, error),
                kind_ == RunKind::kMediaRecovery ? withReason(deleteLine, error) : "");
        else if (kind_ == RunKind::kMediaRecovery)
            add(Mark::kNote, "log control file", path + " is not there");
        else
            add(Mark::kNote, "log control file",
                path + " is not there; the server rebuilds it from the extents");
        return;
    }
    if (kind_ == RunKind::kMediaRecovery) {
        // The reset removes it as remove() does: a folder only when empty.
        int error = accessAllowed(log_.dir.c_str(), W_OK | X_OK);
        if (error == 0 && S_ISDIR(st.st_mode)) error = emptyFolder(path);
        if (error != 0) {
            add(Mark::kFail, "log control file", withReason(deleteLine, error),
                withReason(deleteLine, error));
            return;
        }
        add(Mark::kNote, "log control file", path + " is there; the reset deletes it");
        return;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        add(Mark::kFail, "log control file", path + " is not a regular file");
        return;
    }
    const int error = accessAllowed(path.c_str(), R_OK);
    if (error != 0) {
        add(Mark::kFail, "log control file", withReason(path + " cannot be read", error));
        return;
    }
    add(Mark::kNote, "log control file",
        path + " is there; whether its content is sound is the server's to judge");
}

bool Planner::recoverable(const char *subject, const std::string &path, DWORD logExtent,
                          unsigned long long size) {
    // A server may write the recovered database in place or as a new file
    // beside it: the folder must take one, and the file stay writable.
    const std::string folder = parentOf(path);
    int error = accessAllowed(folder.c_str(), W_OK | X_OK);
    if (error != 0) {
        add(Mark::kFail, subject,
            withReason(path + " cannot be rolled forward: its folder takes no new file", error));
        return false;
    }
    error = accessAllowed(path.c_str(), W_OK);
    if (error != 0)
        add(Mark::kNote, subject,
            withReason(path + " is read-only: a server that writes it in place cannot roll it "
                              "forward, one that writes a new copy beside it can",
                       error));
    // The copy beside it takes the file and, at most, every record of the
    // extents it reads.
    const unsigned long long needed = size + log_.bytesFrom(logExtent);
    unsigned long long available = 0;
    error = roomFor(folder, needed, &available);
    if (error == ENOSPC) {
        add(Mark::kFail, subject,
            path + " cannot be rolled forward: " +
                roomText(folder, available, needed, "a new copy of it with the replayed changes"));
        return false;
    }
    if (error != 0) {
        add(Mark::kFail, subject, withReason(folder, error));
        return false;
    }
    return true;
}

// A recovery reads the log from the extent of the database's last change
// on: the log directory must begin there or before.
void Planner::neededExtents(const std::string &path, DWORD logExtent) {
    if (!log_.known || log_.chain.numbers.empty() || logExtent == 0) return;
    newest_ = std::max(newest_, logExtent);
    const DWORD first = log_.chain.numbers.front();
    if (logExtent < first)
        add(Mark::kFail, "extents",
            path + " needs the log from " + extentName(logExtent) + " on; " + log_.dir +
                " begins at " + extentName(first) + ", missing " +
                describeExtentRanges({ExtentRange{logExtent, first - 1}}, kNamesPerLine));
}

// The newest extent any database of the data directory changed in must be
// there too: the server's log reaches at least that far, and a recovery
// that finds it short fails.
void Planner::newestExtents() {
    if (!log_.known || log_.chain.numbers.empty()) return;
    // A listing that fails here leaves the bound to the backup and OUT=.
    std::vector<std::string> live;
    char message[kMessageSize];
    memset(message, 0, sizeof message);
    if (listDatabasePaths(s_.dataDir, s_.dataDir, &live, message)) {
        for (const std::string &path : live) {
            const LoggedQuery query = queryLogged(path.c_str());
            if (query.failedStep == nullptr && query.logged)
                newest_ = std::max(newest_, query.logExtent);
        }
    }
    const DWORD last = log_.chain.numbers.back();
    if (newest_ > last)
        add(Mark::kFail, "extents",
            "a database of " + std::string(s_.dataDir) + " changed in " + extentName(newest_) +
                "; " + log_.dir + " ends at " + extentName(last) + ", missing " +
                describeExtentRanges({ExtentRange{last + 1, newest_}}, kNamesPerLine));
}

// The databases the sweep would visit, asked one by one as the sweep asks.
void Planner::databases() {
    char message[kMessageSize];
    memset(message, 0, sizeof message);
    if (!listDatabasePaths(s_.dataDir, s_.dataDir, &plan_->databases, message)) {
        std::string text = message;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        // The sweep prints its listing failure with puts.
        add(Mark::kFail, "databases", text, std::string(message));
        return;
    }
    const size_t count = plan_->databases.size();
    if (count == 0) {
        add(Mark::kNote, "databases", std::string("none under ") + s_.dataDir);
        return;
    }
    int logged = 0, notLogged = 0, failed = 0;
    // The summary goes before the lines of single databases, in list order.
    const size_t summaryAt = plan_->findings.size();
    for (const std::string &path : plan_->databases) {
        const LoggedQuery query = queryLogged(path.c_str());
        if (query.failedStep != nullptr) {
            const std::string line = describeLoggedFailure(path.c_str(), query);
            add(Mark::kFail, "database", line, " " + line);
            ++failed;
            continue;
        }
        if (!query.logged) {
            ++notLogged;
            continue;
        }
        ++logged;
        struct stat st;
        const unsigned long long size =
            stat(path.c_str(), &st) == 0 ? (unsigned long long)st.st_size : 0;
        neededExtents(path, query.logExtent);
        if (!recoverable("database", path, query.logExtent, size)) ++failed;
    }
    std::string detail = std::to_string(count) + " found under " + s_.dataDir + ": " +
                         std::to_string(logged) + " logged, " + std::to_string(notLogged) +
                         " not logged";
    if (failed > 0) detail += ", " + std::to_string(failed) + " cannot be recovered";
    plan_->findings.insert(summaryAt,
                           Finding{failed == 0 ? Mark::kOk : Mark::kFail, "databases", detail, ""});
}

// The backup file: a regular file, a logged database the recovery can roll
// forward in place.
void Planner::backupFile() {
    const std::string &path = plan_->backupPath;
    const std::string recoverLine = " Fail to recover database " + path + ", Reason=";
    struct stat st;
    // A FIFO would hold the server's open for ever, a device or a folder is
    // no database: only a regular file (or a link to one) reaches the API.
    // A name that leads nowhere is the API's to word, as the recovery would.
    const bool found = stat(path.c_str(), &st) == 0;
    if (found && !S_ISREG(st.st_mode)) {
        add(Mark::kFail, "backup file", path + " is not a regular file",
            recoverLine + "Not a regular file");
        return;
    }
    const LoggedQuery query = queryLogged(path.c_str());
    if (query.failedStep != nullptr) {
        add(Mark::kFail, "backup file", describeLoggedFailure(path.c_str(), query),
            recoverLine + apiText(query.status));
        return;
    }
    if (!query.logged || !found) {
        add(Mark::kFail, "backup file", path + " is not a logged database");
        return;
    }
    backupExtent_ = query.logExtent;
    neededExtents(path, query.logExtent);
    if (!recoverable("backup file", path, query.logExtent, (unsigned long long)st.st_size))
        return;
    add(Mark::kOk, "backup file", path + " is a logged database");
}

// DATETIME= read as the recovery reads it, shown back as the GMT+0 reading.
void Planner::cutOffTime() {
    const char *text = s_.cutOffTime;
    if (text[0] == '\0') {
        add(Mark::kNote, "cut-off time", "none: the recovery goes to the latest transaction");
        return;
    }
    TIMEDATE cutOff;
    TIME reading;
    const STATUS status = parseCutOffTime(text, &cutOff, &reading);
    if (status != NOERROR) {
        const std::string reason = apiText(status);
        std::string runLine;
        if (kind_ != RunKind::kMediaRecovery)
            runLine = " Fail to recover database " + plan_->backupPath + ", Reason=" + reason;
        add(Mark::kFail, "cut-off time",
            std::string("\"") + text + "\" cannot be read, Reason=" + reason, runLine);
        return;
    }
    // The API reads a date alone as its midnight; a cut-off is a moment,
    // and a day given without one is more likely meant to end than begin.
    if (strchr(text, ':') == nullptr) {
        add(Mark::kFail, "cut-off time",
            std::string("\"") + text + "\" gives no time of day; write it as MM/DD/YYYY HH:MM");
        return;
    }
    char when[64];
    (void)snprintf(when, sizeof when, "%02d/%02d/%04d %02d:%02d:%02d", reading.month, reading.day,
                   reading.year, reading.hour, reading.minute, reading.second);
    add(Mark::kOk, "cut-off time", std::string("\"") + text + "\" reads as " + when + " GMT+0");
}

// OUT= under the restore's rule, its folder, the offline mark beside it,
// and room for the temporary copy and the mark.
void Planner::restoreTarget() {
    const std::string &live = plan_->livePath;
    const std::string restoreLine = " Fail to restore database " + live + ", Reason=";
    const std::string refusal = restoreRefusal(live.c_str());
    if (!refusal.empty()) {
        add(Mark::kFail, "restore database", "Fail to restore database " + live + ", Reason=" + refusal,
            restoreLine + refusal);
        return;
    }
    struct stat st;
    const bool exists = lstat(live.c_str(), &st) == 0;
    if (exists) {
        add(Mark::kOk, "restore database", live + " is a regular file");
        const LoggedQuery query = queryLogged(live.c_str());
        if (query.failedStep == nullptr && query.logged) newest_ = std::max(newest_, query.logExtent);
    } else {
        add(Mark::kNote, "restore database", live + " is not there yet; the restore creates it");
    }

    const std::string folder = parentOf(live);
    struct stat folderStat;
    int error = stat(folder.c_str(), &folderStat) != 0 ? lastError() : 0;
    if (error == 0 && !S_ISDIR(folderStat.st_mode)) error = ENOTDIR;
    if (error == 0) error = accessAllowed(folder.c_str(), R_OK | W_OK | X_OK);
    if (error != 0) {
        add(Mark::kFail, "restore folder", withReason(folder + " takes no new file", error),
            restoreLine + systemText(error));
        return;
    }
    add(Mark::kOk, "restore folder", folder + " takes the temporary copy");

    const std::string markPath = offlineMarkPath(live);
    struct stat markStat;
    if (lstat(markPath.c_str(), &markStat) == 0 && !S_ISREG(markStat.st_mode)) {
        add(Mark::kFail, "offline mark", markPath + " is not a regular file",
            restoreLine + systemText(S_ISDIR(markStat.st_mode) ? EISDIR : EINVAL));
        return;
    }

    struct stat backup;
    if (stat(plan_->backupPath.c_str(), &backup) != 0) return;  // the backup file's line says why
    // The copy is of the recovered file: the backup and, at most, every
    // record the recovery replays into it. The mark takes a block of its own.
    const unsigned long long needed =
        (unsigned long long)backup.st_size + log_.bytesFrom(backupExtent_) + live.size() + 1;
    unsigned long long available = 0;
    error = roomFor(folder, needed, &available);
    const std::string detail =
        roomText(folder, available, needed, "the copy of the recovered backup file");
    if (error == ENOSPC)
        add(Mark::kFail, "free space", detail, restoreLine + systemText(ENOSPC));
    else if (error != 0)
        add(Mark::kFail, "free space", withReason(folder, error));
    else
        add(Mark::kOk, "free space", detail);
}

// A restore and a media recovery take the run lock and stop when it is
// held; a recovery of a backup file changes only that file and takes none.
// The check looks without locking, so that it can never refuse a run.
void Planner::runLock(bool taken) {
    if (asker_ == Asker::kRun) return;  // the run holds it already
    const int error = probeRunLock(s_.dataDir);
    if (error == 0) {
        add(taken ? Mark::kOk : Mark::kNote, "run lock",
            std::string("no other run holds ") + s_.dataDir);
        return;
    }
    const std::string why = describeRunLockFailure(error, s_.dataDir);
    if (taken)
        add(Mark::kFail, "run lock", why, why);
    else
        add(Mark::kNote, "run lock", why + " (a recovery of a backup file does not take the lock)");
}

void Planner::serverJudges() {
    add(Mark::kNote, "recovery",
        "the server itself decides whether the extents' content is sound, whether the cut-off "
        "lies after each database's last change, and whether each database belongs to this "
        "server's log");
}

void Planner::media() {
    iniFile();
    if (!dataDirectory()) return;
    logDirectory();
    archiveRecords();
    logControlFile();
    cutOffTime();
    databases();
    runLock(true);
    serverJudges();
}

void Planner::single() {
    if (!dataDirectory()) return;
    logDirectory();
    logControlFile();
    backupFile();
    cutOffTime();
    if (kind_ == RunKind::kRestore) restoreTarget();
    newestExtents();
    runLock(kind_ == RunKind::kRestore);
    serverJudges();
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
    if (kind != RunKind::kMediaRecovery) plan.backupPath = resolveBackupPath(s.inputFile);
    if (kind == RunKind::kRestore) plan.livePath = resolveServerPath(s.dataDir, s.restoreDb);
    Planner planner(s, kind, asker, &plan);
    if (kind == RunKind::kMediaRecovery)
        planner.media();
    else
        planner.single();
    return plan;
}

}  // namespace nsfmend
