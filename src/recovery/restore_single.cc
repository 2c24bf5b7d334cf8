// One backup file: recover it, and on "RESTORE" put it in place of the live
// database (offline, copy over, online).
#include "recovery/restore_single.h"

#include <stdio.h>
#include <string.h>

#include <string_view>

#include "recovery/recover_db.h"
#include "support/copy.h"
#include "support/text.h"

STATUS TakeDbsOffline(const char *dbPath) {
    // The API takes the path as char * but does not write to it.
    return NSFTakeDatabaseOffline(const_cast<char *>(dbPath), 0, 1);
}

int RestoreDbs(const char *source, const char *destination) {
    return SysFileCopy(source, destination, 0);
}

STATUS BringDbsOnline(const char *dbPath) {
    return NSFBringDatabaseOnline(const_cast<char *>(dbPath), 0);
}

int restoreSingleDatabase(const char *operation, const char *backupPath, const char *dbPath,
                          const char *cutOffTime, int newDbiid, int newRepid) {
    char reason[4096];
    memset(reason, 0, sizeof(reason));
    int bringOnline = 1;

    const std::string_view op = operation ? operation : "";
    if (op != "RECOVER" && op != "RESTORE" && op != "NOTE") return 1;
    if (backupPath == nullptr) backupPath = "";

    printf("\n\n Recovering backup file %s...\n", backupPath);
    STATUS status = (STATUS)RecoverDbs(backupPath, cutOffTime, newDbiid, newRepid, 0,
                                       op == "NOTE" ? 1 : 0);
    if (status != NOERROR) {
        get_api_error_message(status, reason);
        printf(" Fail to recover database %s, Reason=%s\n", backupPath, reason);
        return 0;
    }

    if (op != "RESTORE" || dbPath == nullptr || dbPath[0] == '\0') return 1;

    printf(" Taking database %s offline ...\n", dbPath);
    status = TakeDbsOffline(dbPath);
    if (status != NOERROR) {
        get_api_error_message(status, reason);
        printf(" Fail to take database %s offline, Reason=%s\n", dbPath, reason);
        // No running server holds the file: it can be replaced as it is, and
        // there is nothing to bring back online.
        if (status != STATUS_DB_NOT_IN_USE) return 0;
        bringOnline = 0;
    }

    printf(" Restoring database %s \n  from recovered backup file %s ...\n", dbPath, backupPath);
    int copied = RestoreDbs(backupPath, dbPath);
    if (copied != 0) {
        get_sys_error_message(copied, reason);
        // The database stays offline: a half-written file must not be served.
        printf(" Fail to restore database %s, Reason=%s\n", dbPath, reason);
        return 0;
    }

    if (!bringOnline) return 1;

    printf(" Bringing database %s online ...\n", dbPath);
    status = BringDbsOnline(dbPath);
    if (status != NOERROR) {
        get_api_error_message(status, reason);
        printf(" Fail to bring database %s online, Reason=%s\n", dbPath, reason);
        return 0;
    }
    return 1;
}
