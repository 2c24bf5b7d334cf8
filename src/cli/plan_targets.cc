// The targets' questions of a plan: notes.ini, the data directory, the
// cut-off, the backup file, the database at OUT=, a media recovery's
// databases and the run lock. Each is asked through the operation that
// acts on it (its own pre-check, or the query it makes), and a FAIL's run
// line is that operation's own line.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/lines.h"
#include "cli/plan_parts.h"
#include "logctrl/logctrl.h"
#include "recovery/restore_single.h"
#include "support/durable.h"
#include "support/path.h"
#include "support/run_lock.h"
#include "support/sizes.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/archive_record.h"

namespace nsfmend {
namespace {

std::string roomText(const std::string &folder, unsigned long long available,
                     unsigned long long needed, const char *what) {
    return sizeText((double)available, "bytes") + " free in " + folder + ", " + what + " needs " +
           sizeText((double)needed, "bytes");
}

unsigned long long sizeOf(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (unsigned long long)st.st_size : 0;
}

bool sameLog(const UNID &a, const UNID &b) { return memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

void askIniFile(const char *iniPath, Findings *findings) {
    const Result checked = checkRecreateLogControl(iniPath);
    if (!checked.isOk()) {
        findings->add(Mark::kFail, "notes.ini", withReason(checked.text(), checked.error()),
                      checked.text());
        return;
    }
    findings->add(Mark::kOk, "notes.ini", std::string(iniPath) + " can be read and replaced");
}

bool askDataDirectory(const char *dataDir, Findings *findings) {
    struct stat st;
    if (stat(dataDir, &st) != 0) {
        findings->add(Mark::kFail, "data directory", withReason(dataDir, lastError()));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        findings->add(Mark::kFail, "data directory", withReason(dataDir, ENOTDIR));
        return false;
    }
    findings->add(Mark::kOk, "data directory", dataDir);
    return true;
}

// DATETIME= read as the recovery reads it, shown back as the GMT+0 reading.
void askCutOff(const char *text, const std::string &backupPath, CutOff *cutOff,
               Findings *findings) {
    if (text[0] == '\0') {
        findings->add(Mark::kNote, "cut-off time",
                      "none: the recovery goes to the latest transaction");
        return;
    }
    TIME reading;
    const STATUS status = readCutOff(text, cutOff, &reading);
    if (status != NOERROR) {
        const std::string reason = Result::api(status).reason();
        findings->add(Mark::kFail, "cut-off time",
                      std::string("\"") + text + "\" cannot be read, Reason=" + reason,
                      backupPath.empty() ? "" : recoveryFailureLine(backupPath, reason));
        return;
    }
    // The API reads a date alone as its midnight; a cut-off is a moment,
    // and a day given without one is more likely meant to end than begin.
    if (strchr(text, ':') == nullptr) {
        findings->add(Mark::kFail, "cut-off time",
                      std::string("\"") + text +
                          "\" gives no time of day; write it as MM/DD/YYYY HH:MM");
        return;
    }
    char when[64];
    (void)snprintf(when, sizeof when, "%02d/%02d/%04d %02d:%02d:%02d", reading.month,
                   reading.day, reading.year, reading.hour, reading.minute, reading.second);
    findings->add(Mark::kOk, "cut-off time",
                  std::string("\"") + text + "\" reads as " + when + " GMT+0");
}

Recoverable askRecoverable(const std::string &path, const LogView &log, DWORD start) {
    Recoverable answer;
    // A server may write the recovered database in place or as a new file
    // beside it: the folder must take one, and the file stay writable.
    const std::string folder = parentOf(path);
    int error = accessAllowed(folder.c_str(), W_OK | X_OK);
    if (error != 0) {
        answer.failure =
            withReason(path + " cannot be rolled forward: its folder takes no new file", error);
        answer.reason = systemText(error);
        return answer;
    }
    error = accessAllowed(path.c_str(), W_OK);
    if (error != 0)
        answer.note = withReason(path + " is read-only: a server that writes it in place cannot "
                                        "roll it forward, one that writes a new copy beside it can",
                                 error);
    // The new copy holds the file and, at most, every record of the
    // extents it reads: only the file itself is certain.
    const unsigned long long size = sizeOf(path);
    const unsigned long long most = size + log.bytesFrom(start);
    unsigned long long available = 0;
    error = roomFor(folder, size, &available);
    if (error == ENOSPC) {
        answer.failure = path + " cannot be rolled forward: " +
                         roomText(folder, available, size, "a new copy of it");
        answer.reason = systemText(ENOSPC);
    } else if (error != 0) {
        answer.failure = withReason(folder, error);
        answer.reason = systemText(error);
    } else if (roomFor(folder, most, &available) == ENOSPC && answer.note.empty()) {
        answer.note = roomText(folder, available, most,
                               "a new copy of it with every change the extents could hold") +
                      "; how much the recovery replays is the server's to know";
    }
    return answer;
}

// The backup file: a regular file, a logged database the recovery can roll
// forward in place.
BackupAnswer askBackupFile(const std::string &path, Findings *findings) {
    BackupAnswer backup;
    LoggedQuery answer;
    const Result checked = checkBackupFile(path.c_str(), &answer);
    if (!checked.isOk()) {
        findings->add(Mark::kFail, "backup file",
                      answer.failedStep != nullptr ? describeLoggedFailure(path.c_str(), answer)
                                                   : path + " is not a regular file",
                      checked.text());
        return backup;
    }
    struct stat st;
    if (!answer.logged || stat(path.c_str(), &st) != 0) {
        findings->add(Mark::kFail, "backup file", path + " is not a logged database");
        return backup;
    }
    backup.usable = true;
    backup.reader = LogReader{path, answer.logExtent, answer.logId, ""};
    return backup;
}

// OUT= under the restore's rule, its folder, the offline mark beside it,
// the copy's source, and room for the temporary copy and the mark.
void askRestoreTarget(const std::string &live, const std::string &backupPath, const LogView &log,
                      const LogReader &backup, DWORD *newest, Findings *findings) {
    const char *db = live.c_str();
    const std::string refusal = restoreRefusal(db);
    if (!refusal.empty()) {
        const std::string line = restoreFailureLine(RestoreStep::kCopy, live, Result::failure(refusal));
        findings->add(Mark::kFail, "restore database", line.substr(1), line);
        return;
    }
    struct stat st;
    if (lstat(db, &st) == 0) {
        findings->add(Mark::kOk, "restore database", live + " is a regular file");
        // Its last change bounds how far the log must reach, when it is in
        // the backup's log.
        const LoggedQuery query = queryLogged(db);
        if (query.failedStep == nullptr && query.logged && sameLog(query.logId, backup.logId))
            *newest = query.logExtent;
    } else {
        // A server cannot take offline a database it does not have: asked,
        // it says whether one runs.
        const STATUS offline = askOfflineOfMissing(db);
        if (offline != NOERROR && offline != STATUS_DB_NOT_IN_USE) {
            const std::string line =
                restoreFailureLine(RestoreStep::kOffline, live, Result::api(offline));
            findings->add(Mark::kFail, "restore database",
                          live + " is not there yet, and the running server cannot take it "
                                 "offline: the restore would stop there, after rolling the backup "
                                 "file forward;" + line,
                          line);
        } else {
            findings->add(Mark::kNote, "restore database",
                          live + " is not there yet; no server holds it, so the restore creates it");
        }
    }

    const std::string folder = parentOf(live);
    int error = checkLiveFolder(db);
    if (error != 0) {
        findings->add(Mark::kFail, "restore folder", withReason(folder + " takes no new file", error),
                      restoreFailureLine(RestoreStep::kCopy, live, Result::system(error)));
        return;
    }
    findings->add(Mark::kOk, "restore folder", folder + " takes the temporary copy");

    error = checkOfflineMark(db);
    if (error != 0) {
        const std::string line = restoreFailureLine(RestoreStep::kMark, live, Result::system(error));
        findings->add(Mark::kFail, "offline mark", line.substr(1), line);
        return;
    }

    struct stat source;
    if (stat(backupPath.c_str(), &source) != 0) return;  // the backup file's line says why
    error = checkCopySource(backupPath.c_str());
    if (error != 0) {
        findings->add(Mark::kFail, "backup file",
                      withFileReason(backupPath + " cannot be read for the copy", error),
                      restoreFailureLine(RestoreStep::kCopy, live, Result::system(error)));
        return;
    }
    // The copy is of the recovered file: the backup and, at most, every
    // record the recovery replays into it. The mark takes a block of its own.
    const unsigned long long least = (unsigned long long)source.st_size + live.size() + 1;
    const unsigned long long most = least + log.bytesFrom(backup.start);
    unsigned long long available = 0;
    error = roomFor(folder, least, &available);
    if (error == ENOSPC) {
        findings->add(Mark::kFail, "free space",
                      roomText(folder, available, least, "the copy of the backup file"),
                      restoreFailureLine(RestoreStep::kCopy, live, Result::system(ENOSPC)));
        return;
    }
    if (error != 0) {
        findings->add(Mark::kFail, "free space", withReason(folder, error));
        return;
    }
    const std::string detail =
        roomText(folder, available, most, "the copy of the recovered backup file");
    if (roomFor(folder, most, &available) == ENOSPC)
        findings->add(Mark::kNote, "free space",
                      detail + "; how much the recovery replays into it is the server's to know");
    else
        findings->add(Mark::kOk, "free space", detail);
}

bool askDatabases(const char *dataDir, std::vector<SweepDatabase> *databases, Findings *findings) {
    char message[kMessageSize];
    memset(message, 0, sizeof message);
    std::vector<std::string> paths;
    if (!listDatabasePaths(dataDir, dataDir, &paths, message)) {
        std::string text = message;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        // The sweep prints its listing failure with puts.
        findings->add(Mark::kFail, "databases", text, std::string(message));
        return false;
    }
    databases->reserve(paths.size());
    for (std::string &path : paths) {
        const LoggedQuery answer = queryLogged(path.c_str());
        databases->push_back(SweepDatabase{std::move(path), answer, ""});
    }
    return true;
}

std::vector<LogReader> readersOf(const std::vector<SweepDatabase> &databases) {
    std::vector<LogReader> readers;
    for (const SweepDatabase &db : databases)
        if (db.answer.failedStep == nullptr && db.answer.logged)
            readers.push_back(LogReader{db.path, db.answer.logExtent, db.answer.logId, ""});
    return readers;
}

SweepCount refuseDatabases(const LogView &log, const std::vector<LogReader> &readers,
                           std::vector<SweepDatabase> *databases,
                           std::vector<DatabaseFinding> *said) {
    SweepCount count;
    size_t next = 0;  // readers are the logged databases, in list order
    for (SweepDatabase &db : *databases) {
        const char *path = db.path.c_str();
        if (db.answer.failedStep != nullptr) {
            const std::string line = describeLoggedFailure(path, db.answer);
            said->push_back(DatabaseFinding{Mark::kFail, line, " " + line, false});
            ++count.unasked;
            continue;
        }
        if (!db.answer.logged) {
            ++count.notLogged;
            continue;
        }
        ++count.logged;
        const LogReader &reader = readers[next++];
        if (!reader.failure.empty()) {
            db.refusal = recoveryFailureLine(db.path, reader.failure);
            said->push_back(DatabaseFinding{Mark::kFail, db.refusal.substr(1), db.refusal, true});
            ++count.refused;
            continue;
        }
        const Recoverable recoverable = askRecoverable(db.path, log, db.answer.logExtent);
        if (!recoverable.note.empty())
            said->push_back(DatabaseFinding{Mark::kNote, recoverable.note, "", false});
        if (!recoverable.failure.empty()) {
            db.refusal = recoveryFailureLine(db.path, recoverable.reason);
            said->push_back(DatabaseFinding{Mark::kFail, recoverable.failure, db.refusal, false});
            ++count.refused;
        }
    }
    return count;
}

void sayDatabases(const char *dataDir, size_t found, const SweepCount &count,
                  const std::vector<DatabaseFinding> &said, Scope scope, Findings *findings) {
    if (found == 0) {
        findings->add(Mark::kNote, "databases", std::string("none under ") + dataDir);
        return;
    }
    std::string detail = std::to_string(found) + " found under " + dataDir + ": " +
                         std::to_string(count.logged) + " logged, " +
                         std::to_string(count.notLogged) + " not logged";
    const size_t failing = count.unasked + count.refused;
    if (failing > 0) detail += ", " + std::to_string(failing) + " cannot be recovered";
    findings->insert(findings->size(),
                     Finding{failing == 0 ? Mark::kOk : Mark::kFail, "databases", detail, "", scope});
    for (const DatabaseFinding &one : said) {
        if (one.mark == Mark::kFail && one.fromLog && scope == Scope::kRun) continue;
        findings->insert(findings->size(), Finding{one.mark, "database", one.detail,
                               one.mark == Mark::kFail ? one.runLine : "",
                               one.mark == Mark::kFail ? scope : Scope::kRun});
    }
}

// A restore and a media recovery take the run lock and stop when it is
// held; a recovery of a backup file changes only that file and takes none.
// The check looks without locking, so that it can never refuse a run.
void askRunLock(const char *dataDir, bool taken, Asker asker, Findings *findings) {
    if (asker == Asker::kRun) return;  // the run holds it already
    const int error = probeRunLock(dataDir);
    if (error == 0) {
        findings->add(taken ? Mark::kOk : Mark::kNote, "run lock",
                      std::string("no other run holds ") + dataDir);
        return;
    }
    const std::string why = describeRunLockFailure(error, dataDir);
    if (taken)
        findings->add(Mark::kFail, "run lock", why, why);
    else
        findings->add(Mark::kNote, "run lock",
                      why + " (a recovery of a backup file does not take the lock)");
}

}  // namespace nsfmend
