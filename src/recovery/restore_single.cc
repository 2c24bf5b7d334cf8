// One backup file: recover it, and on "RESTORE" put it in place of the live
// database (offline, copy over, online).
#include "recovery/restore_single.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "recovery/recover_db.h"
#include "support/copy.h"
#include "support/durable.h"
#include "support/progress.h"
#include "support/sizes.h"
#include "support/text.h"

using nsfmend::kMessageSize;
using nsfmend::OfflineMark;
using nsfmend::Progress;

const char nsfmend::kNotRegularDatabase[] =
    "Not a regular file (a symbolic link or special file is never replaced)";

STATUS TakeDbsOffline(const char *dbPath) {
    // The API takes the path as char * but does not write to it.
    return NSFTakeDatabaseOffline(const_cast<char *>(dbPath), 0, 1);
}

int RestoreDbs(const char *source, const char *destination, Progress *progress) {
    return SysFileCopy(source, destination, 0, progress, nsfmend::CopyAccess::kKeepDestination);
}

STATUS BringDbsOnline(const char *dbPath) {
    return NSFBringDatabaseOnline(const_cast<char *>(dbPath), 0);
}

namespace nsfmend {

bool isReplaceableDatabase(const char *dbPath) {
    struct stat st;
    if (lstat(dbPath, &st) != 0) return true;  // nothing there, or the copy says why
    return S_ISREG(st.st_mode);
}

std::string restoreRefusal(const char *dbPath) {
    if (!isReplaceableDatabase(dbPath)) return kNotRegularDatabase;
    struct stat st;
    if (lstat(dbPath, &st) != 0) return "";
    // The copy is a new file: an owner we cannot give it would leave the
    // database ours instead, so the restore stops before the offline step.
    if (ownerCanBeGiven(st) == 0) return "";
    char text[kMessageSize];
    (void)snprintf(text, sizeof text,
                   "The owner of the live database (user %u, group %u) cannot be kept by user %u;"
                   " a database is never handed to another user",
                   (unsigned)st.st_uid, (unsigned)st.st_gid, (unsigned)geteuid());
    return text;
}

int OfflineMark::set(const char *dbPath) {
    const char *slash = strrchr(dbPath, '/');
    std::string folder = slash == nullptr ? std::string() : std::string(dbPath, slash + 1);
    path_ = folder + hiddenSiblingName(slash == nullptr ? dbPath : slash + 1, "nsfmend-offline");
    struct stat st;
    leftBefore_ = lstat(path_.c_str(), &st) == 0;
    return writeWholeFile(path_.c_str(), std::string(dbPath) + "\n", nullptr, Placing::kReplace);
}

void OfflineMark::clear() {
    if (!path_.empty()) (void)removeFile(path_.c_str());
}

STATUS takeOfflineForRestore(const char *apiPath, const OfflineMark &mark, bool *resumed) {
    *resumed = false;
    STATUS status = TakeDbsOffline(apiPath);
    if (status == NOERROR || status == STATUS_DB_NOT_IN_USE || !mark.leftByEarlierRestore())
        return status;
    if (BringDbsOnline(apiPath) != NOERROR) return status;
    *resumed = true;
    return TakeDbsOffline(apiPath);
}

namespace {

// The bringing-online step with its lines; 1 when the database is online.
// After a failed copy it runs too: nothing of the live file has changed, so
// the database goes back online as it was.
int bringBackOnline(const char *dbPath, char *reason) {
    printf(" Bringing database %s online ...\n", dbPath);
    STATUS status = BringDbsOnline(dbPath);
    if (status == NOERROR) return 1;
    get_api_error_message(status, reason);
    printf(" Fail to bring database %s online, Reason=%s\n", dbPath, reason);
    return 0;
}

}  // namespace
}  // namespace nsfmend

int restoreSingleDatabase(const char *operation, const char *backupPath, const char *dbPath,
                          const char *cutOffTime, int newDbiid, int newRepid) {
    using nsfmend::bringBackOnline;
    char reason[kMessageSize];
    memset(reason, 0, sizeof(reason));
    int bringOnline = 1;

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
    STATUS status = (STATUS)RecoverDbs(backupPath, cutOffTime, newDbiid, newRepid, 0,
                                       op == "NOTE" ? 1 : 0);
    if (status != NOERROR) {
        get_api_error_message(status, reason);
        printf(" Fail to recover database %s, Reason=%s\n", backupPath, reason);
        return 0;
    }

    if (!restore) return 1;

    printf(" Taking database %s offline ...\n", dbPath);
    OfflineMark mark;
    int marked = mark.set(dbPath);
    if (marked != 0) {
        get_sys_error_message(marked, reason);
        printf(" Fail to restore database %s, Reason=%s\n", dbPath, reason);
        return 0;
    }
    bool resumed = false;
    status = nsfmend::takeOfflineForRestore(dbPath, mark, &resumed);
    if (resumed)
        printf(" Database %s was left offline by an interrupted restore: brought online and "
               "taken offline again\n", dbPath);
    if (status != NOERROR) {
        get_api_error_message(status, reason);
        printf(" Fail to take database %s offline, Reason=%s\n", dbPath, reason);
        // No running server holds the file: it can be replaced as it is, and
        // there is nothing to bring back online.
        if (status != STATUS_DB_NOT_IN_USE) {
            mark.clearIfOwn();
            return 0;
        }
        bringOnline = 0;
    }

    printf(" Restoring database %s \n  from recovered backup file %s ...\n", dbPath, backupPath);
    // A multi-gigabyte copy takes minutes: a person at a terminal sees how far.
    Progress progress;
    int copied = RestoreDbs(backupPath, dbPath, &progress);
    if (copied != 0) {
        get_sys_error_message(copied, reason);
        printf(" Fail to restore database %s, Reason=%s\n", dbPath, reason);
        if (!bringOnline)
            mark.clearIfOwn();
        else if (bringBackOnline(dbPath, reason))
            mark.clear();
        return 0;
    }

    if (!bringOnline) {
        mark.clearIfOwn();
        return 1;
    }
    if (!bringBackOnline(dbPath, reason)) return 0;
    mark.clear();
    return 1;
}
