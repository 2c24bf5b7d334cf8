// One backup file: recover it, and on "RESTORE" put it in place of the live
// database (offline, copy over, online), with a line for every step.
#include "recovery/restore_single.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string_view>

#include "recovery/recover_db.h"
#include "support/copy.h"
#include "support/progress.h"
#include "support/result.h"

using nsfmend::Progress;
using nsfmend::Result;

STATUS TakeDbsOffline(const char *dbPath) {
    // The API takes the path as char * but does not write to it.
    return NSFTakeDatabaseOffline(const_cast<char *>(dbPath), 0, 1);
}

int RestoreDbs(const char *source, const char *destination, Progress *progress) {
    return nsfmend::copyFile(source, destination, nsfmend::Placing::kReplace, progress,
                             nsfmend::CopyAccess::kKeepDestination);
}

STATUS BringDbsOnline(const char *dbPath) {
    return NSFBringDatabaseOnline(const_cast<char *>(dbPath), 0);
}

namespace nsfmend {

std::string recoveryFailureLine(std::string_view backupPath, std::string_view reason) {
    return " Fail to recover database " + std::string(backupPath) + ", Reason=" +
           std::string(reason);
}

std::string restoreFailureLine(RestoreStep step, std::string_view dbPath, const Result &why) {
    const std::string db(dbPath);
    const std::string reason = why.explanation();
    switch (step) {
        case RestoreStep::kOffline:
            return " Fail to take database " + db + " offline, Reason=" + reason;
        case RestoreStep::kOnline:
            return " Fail to bring database " + db + " online, Reason=" + reason;
        case RestoreStep::kMark: {
            // The mark is ours, not the database: name it, and why it failed.
            const std::string mark = offlineMarkPath(db);
            if (why.error() == EINVAL || why.error() == EISDIR)
                return " Fail to restore database " + db + ", Reason=The offline mark " + mark +
                       " is not a regular file (a symbolic link, folder or special file there is "
                       "never written through)";
            return " Fail to restore database " + db + ", Reason=The offline mark " + mark +
                   " cannot be written: " + reason;
        }
        case RestoreStep::kCopy:
        case RestoreStep::kResumed: break;
    }
    return " Fail to restore database " + db + ", Reason=" + reason;
}

Result checkBackupFile(const char *backupPath, LoggedQuery *answer) {
    *answer = LoggedQuery();
    // A name that leads nowhere is the API's to word, as the recovery would.
    struct stat st;
    if (stat(backupPath, &st) == 0 && !S_ISREG(st.st_mode))
        return Result::failure(recoveryFailureLine(backupPath, "Not a regular file"));
    *answer = queryLogged(backupPath);
    if (answer->failedStep != nullptr)
        return Result::api(answer->status,
                           recoveryFailureLine(backupPath, Result::api(answer->status).reason()));
    return Result::ok();
}

namespace {

// The command line's lines for the steps of replacing the live database.
class PrintedReport : public RestoreReport {
public:
    PrintedReport(const char *dbPath, const char *backupPath) : db_(dbPath), backup_(backupPath) {}

    void starting(RestoreStep step) override {
        switch (step) {
            case RestoreStep::kOffline: printf(" Taking database %s offline ...\n", db_); break;
            case RestoreStep::kResumed:
                printf(" Database %s was left offline by an interrupted restore: brought online and "
                       "taken offline again\n", db_);
                break;
            case RestoreStep::kCopy:
                printf(" Restoring database %s \n  from recovered backup file %s ...\n", db_, backup_);
                break;
            case RestoreStep::kOnline: printf(" Bringing database %s online ...\n", db_); break;
            case RestoreStep::kMark: break;
        }
    }

    void failed(RestoreStep step, const Result &why) override {
        printf("%s\n", restoreFailureLine(step, db_, why).c_str());
    }

    // A multi-gigabyte copy takes minutes: a person at a terminal sees how far.
    Progress *progress() override { return &progress_; }

private:
    const char *db_;
    const char *backup_;
    Progress progress_;
};

}  // namespace

int carryOutSingleRun(const SingleRun &run) {
    const std::string_view op = run.operation;
    if (op != "RECOVER" && op != "RESTORE" && op != "NOTE") return 1;
    const char *backupPath = run.backupPath.c_str();
    printf("\n\n Recovering backup file %s...\n", backupPath);
    const Result recovered = recoverBackupFile(backupPath, run.cutOff, run.newDbiid, run.newRepid, 0,
                                               op == "NOTE" ? 1 : 0);
    if (!recovered.isOk()) {
        printf("%s\n", recoveryFailureLine(backupPath, recovered.reason()).c_str());
        return 0;
    }
    if (op != "RESTORE" || run.livePath.empty()) return 1;

    // Status 5113 (no server holds the file) goes on: the file is replaced
    // as it is.
    const char *dbPath = run.livePath.c_str();
    PrintedReport report(dbPath, backupPath);
    return replaceLiveDatabase(backupPath, dbPath, dbPath, WhenNotInUse::kReplace, &report).isOk()
               ? 1
               : 0;
}

}  // namespace nsfmend

int restoreSingleDatabase(const char *operation, const char *backupPath, const char *dbPath,
                          const char *cutOffTime, int newDbiid, int newRepid) {
    const std::string_view op = operation ? operation : "";
    if (op != "RECOVER" && op != "RESTORE" && op != "NOTE") return 1;
    if (backupPath == nullptr) backupPath = "";
    const bool restore = op == "RESTORE" && dbPath != nullptr && dbPath[0] != '\0';

    // Refused before anything, the backup file included, is changed.
    if (restore) {
        const std::string refusal = nsfmend::restoreRefusal(dbPath);
        if (!refusal.empty()) {
            printf("%s\n", nsfmend::restoreFailureLine(nsfmend::RestoreStep::kCopy, dbPath,
                                                       Result::failure(refusal))
                                .c_str());
            return 0;
        }
    }

    nsfmend::SingleRun run;
    run.operation = std::string(op);
    run.backupPath = backupPath;
    run.livePath = restore ? dbPath : "";
    run.newDbiid = newDbiid;
    run.newRepid = newRepid;
    const STATUS read = nsfmend::readCutOff(cutOffTime, &run.cutOff);
    if (read != NOERROR) {
        // RecoverDbs reads the cut-off after the recovering line.
        printf("\n\n Recovering backup file %s...\n", backupPath);
        printf("%s\n", nsfmend::recoveryFailureLine(backupPath, Result::api(read).reason()).c_str());
        return 0;
    }
    return nsfmend::carryOutSingleRun(run);
}
