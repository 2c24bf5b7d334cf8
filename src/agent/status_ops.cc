// restoreNsfDB, recoverNsfDB, getTransLogStyle: the server-side work of
// the program, reported as status strings in the caller's buffer.
#include "agent/status_ops.h"

#include <errno.h>
#include <string.h>

#include <string>

#include "recovery/recover_db.h"
#include "recovery/restore_single.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

bool fitsPathBuffer(const char *path) { return strnlen(path, kPathSize) < kPathSize; }

bool lockRun(RunLock *lock, char *msg) {
    char dataDir[kPathSize];
    memset(dataDir, 0, sizeof dataDir);
    OSGetDataDirectory(dataDir);
    dataDir[kPathSize - 1] = '\0';
    return lock->acquireOrExplain(dataDir, msg);
}

bool queryLogStyle(WORD *style, char *msg) {
    *style = 0;
    const STATUS status = NSFGetTransLogStyle(style);
    if (status == STATUS_LOGGING_OFF) {
        setMessage(msg, NSFMEND_QMR_STYLE_NOT_LOGGED);
        return false;
    }
    if (status != NOERROR) {
        get_api_error_message(status, msg);
        return false;
    }
    return true;
}

namespace {

// A path cut short by a buffer would name another file: refuse it whole.
void pathTooLong(const char *path, char *msg) {
    formatMessage(msg, "Path too long (over 1023 characters): %s", path);
}

}  // namespace

bool refuseLongPath(const char *path, char *msg) {
    if (fitsPathBuffer(path)) return false;
    pathTooLong(path, msg);
    return true;
}
}  // namespace nsfmend

using nsfmend::fitsPathBuffer;
using nsfmend::formatMessage;
using nsfmend::kPathSize;
using nsfmend::lockRun;
using nsfmend::OfflineMark;
using nsfmend::pathTooLong;
using nsfmend::queryLogStyle;
using nsfmend::refuseLongPath;
using nsfmend::restoreRefusal;
using nsfmend::RunLock;
using nsfmend::setMessage;
using nsfmend::takeOfflineForRestore;

extern "C" void restoreNsfDB(const char *backupFile, const char *dbPath, void * /*unused*/,
                               char *msg) {
    if (msg == nullptr) return;
    setMessage(msg, NSFMEND_QMR_SUCCESS);
    if (backupFile == nullptr || dbPath == nullptr) {
        get_sys_error_message(EINVAL, msg);
        return;
    }
    if (refuseLongPath(dbPath, msg) || refuseLongPath(backupFile, msg)) return;

    // Translated into room to spare, so a path that grows past the API's
    // 1024-byte limit in LMBCS is seen and refused instead of cut.
    char lmbcsWide[4 * kPathSize];
    memset(lmbcsWide, 0, sizeof lmbcsWide);
    OSTranslateToLMBCS(dbPath, static_cast<WORD>(strlen(dbPath)), lmbcsWide,
                       static_cast<WORD>(sizeof lmbcsWide));
    if (!fitsPathBuffer(lmbcsWide)) {
        pathTooLong(dbPath, msg);
        return;
    }
    char lmbcsDb[kPathSize];
    memset(lmbcsDb, 0, sizeof lmbcsDb);
    memcpy(lmbcsDb, lmbcsWide, strlen(lmbcsWide) + 1);

    // Another run changing the server's files would race this one.
    RunLock lock;
    if (!lockRun(&lock, msg)) return;
    const std::string refusal = restoreRefusal(dbPath);
    if (!refusal.empty()) {
        formatMessage(msg, "%s: %s", refusal.c_str(), dbPath);
        return;
    }
    OfflineMark mark;
    int result = mark.set(dbPath);
    if (result != 0) {
        get_sys_error_message(result, msg);
        return;
    }
    // Unlike the command line, 5113 stops here too: an agent that cannot
    // take the database offline must not copy over a file a server may hold.
    bool resumed = false;
    STATUS status = takeOfflineForRestore(lmbcsDb, mark, &resumed);
    if (status != NOERROR) {
        mark.clearIfOwn();
        get_api_error_message(status, msg);
        return;
    }
    result = RestoreDbs(backupFile, dbPath);
    // A failed copy changed nothing of the live file: it goes back online as
    // it was, and the copy's failure is what the caller hears.
    status = BringDbsOnline(lmbcsDb);
    if (status == NOERROR) mark.clear();
    if (result != 0)
        get_sys_error_message(result, msg);
    else if (status != NOERROR)
        get_api_error_message(status, msg);
}

extern "C" void recoverNsfDB(const char *backupFile, const char *dateTime, int newDbiid,
                               int newRepid, int thirdOption, char *msg) {
    if (msg == nullptr) return;
    setMessage(msg, NSFMEND_QMR_SUCCESS);
    if (backupFile == nullptr) {
        get_sys_error_message(EINVAL, msg);
        return;
    }
    if (refuseLongPath(backupFile, msg)) return;
    int result = RecoverDbs(backupFile, dateTime, newDbiid, newRepid, thirdOption, 0);
    STATUS status = static_cast<STATUS>(result & 0xFFFF);
    if (status != NOERROR) get_api_error_message(status, msg);
}

extern "C" void getTransLogStyle(char *msg) {
    if (msg == nullptr) return;
    WORD style = 0;
    if (!queryLogStyle(&style, msg)) return;
    if (style == 0)
        setMessage(msg, NSFMEND_QMR_STYLE_CIRCULAR);
    else if (style == 1)
        setMessage(msg, NSFMEND_QMR_STYLE_ARCHIVE);
    else
        setMessage(msg, NSFMEND_QMR_STYLE_UNKNOWN);
}
