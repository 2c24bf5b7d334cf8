// One backup file: recover it, and on "RESTORE" put it in place of the live
// database (offline, copy over, online), with a line for every step.
#include "recovery/restore_single.h"

#include <stdio.h>

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
        const std::string reason = why.reason();
        switch (step) {
            case RestoreStep::kOffline:
                printf(" Fail to take database %s offline, Reason=%s\n", db_, reason.c_str());
                break;
            case RestoreStep::kOnline:
                printf(" Fail to bring database %s online, Reason=%s\n", db_, reason.c_str());
                break;
            case RestoreStep::kMark:
            case RestoreStep::kCopy:
            case RestoreStep::kResumed:
                printf(" Fail to restore database %s, Reason=%s\n", db_, reason.c_str());
                break;
        }
    }

    // A multi-gigabyte copy takes minutes: a person at a terminal sees how far.
    Progress *progress() override { return &progress_; }

private:
    const char *db_;
    const char *backup_;
    Progress progress_;
};

}  // namespace
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
            printf(" Fail to restore database %s, Reason=%s\n", dbPath, refusal.c_str());
            return 0;
        }
    }

    printf("\n\n Recovering backup file %s...\n", backupPath);
    const Result recovered = nsfmend::recoverBackupFile(backupPath, cutOffTime, newDbiid, newRepid,
                                                        0, op == "NOTE" ? 1 : 0);
    if (!recovered.isOk()) {
        printf(" Fail to recover database %s, Reason=%s\n", backupPath, recovered.reason().c_str());
        return 0;
    }
    if (!restore) return 1;

    // Status 5113 (no server holds the file) goes on: the file is replaced
    // as it is.
    nsfmend::PrintedReport report(dbPath, backupPath);
    return nsfmend::replaceLiveDatabase(backupPath, dbPath, dbPath, nsfmend::WhenNotInUse::kReplace,
                                        &report)
                   .isOk()
               ? 1
               : 0;
}
