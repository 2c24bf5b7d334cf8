// Replacing a live database: the rule for what may be replaced, the offline
// mark, and offline, copy, online.
#include "recovery/replace_live.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recovery/restore_single.h"
#include "support/durable.h"
#include "support/path.h"
#include "support/raii.h"
#include "support/sizes.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

const char kNotRegularDatabase[] =
    "Not a regular file (a symbolic link or special file is never replaced)";

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
    return formatText(NSFMEND_OWNER_REFUSAL, (unsigned)st.st_uid, (unsigned)st.st_gid,
                      (unsigned)geteuid());
}

std::string offlineMarkPath(std::string_view dbPath) {
    return joinPath(parentOf(dbPath), hiddenSiblingName(baseName(dbPath), "nsfmend-offline"));
}

int checkLiveFolder(const char *filePath) {
    const std::string folder = parentOf(filePath);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) return lastError();
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    return accessAllowed(folder.c_str(), R_OK | W_OK | X_OK);
}

int checkOfflineMark(const char *filePath) {
    struct stat st;
    if (lstat(offlineMarkPath(filePath).c_str(), &st) != 0 || S_ISREG(st.st_mode)) return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

int checkCopySource(const char *recoveredFile) {
    // Without blocking: a FIFO is refused, never waited on.
    UniqueFd in(open(recoveredFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in.valid()) return lastError();
    struct stat st;
    if (fstat(in.get(), &st) != 0) return lastError();
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return 0;
}

STATUS askOfflineOfMissing(const char *apiPath) {
    const STATUS status = TakeDbsOffline(apiPath);
    if (status == NOERROR) (void)BringDbsOnline(apiPath);
    return status;
}

int OfflineMark::set(const char *dbPath) {
    path_ = offlineMarkPath(dbPath);
    const int refused = checkOfflineMark(dbPath);
    if (refused != 0) {
        path_.clear();  // not ours: never removed
        return refused;
    }
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

// The online step; after a failed copy it runs too, as nothing of the live
// file has changed and the database goes back online as it was.
Result bringOnline(const char *apiPath, OfflineMark *mark, RestoreReport *report) {
    report->starting(RestoreStep::kOnline);
    Result online = Result::api(BringDbsOnline(apiPath));
    if (!online.isOk()) {
        report->failed(RestoreStep::kOnline, online);
        return online;
    }
    mark->clear();
    return online;
}

}  // namespace

Result replaceLiveDatabase(const char *recoveredFile, const char *apiPath, const char *filePath,
                           WhenNotInUse notInUse, RestoreReport *report) {
    Result readable = Result::system(checkCopySource(recoveredFile));
    if (!readable.isOk()) {
        report->failed(RestoreStep::kCopy, readable);
        return readable;
    }
    report->starting(RestoreStep::kOffline);
    OfflineMark mark;
    Result marked = Result::system(mark.set(filePath));
    if (!marked.isOk()) {
        report->failed(RestoreStep::kMark, marked);
        return marked;
    }
    bool resumed = false;
    const STATUS status = takeOfflineForRestore(apiPath, mark, &resumed);
    if (resumed) report->starting(RestoreStep::kResumed);
    // A database no running server holds can be replaced as it is, and
    // there is nothing to bring back online.
    const bool inUse = status != STATUS_DB_NOT_IN_USE;
    if (status != NOERROR) {
        Result offline = Result::api(status);
        report->failed(RestoreStep::kOffline, offline);
        if (inUse || notInUse == WhenNotInUse::kStop) {
            mark.clearIfOwn();
            return offline;
        }
    }

    report->starting(RestoreStep::kCopy);
    Result copied = Result::system(RestoreDbs(recoveredFile, filePath, report->progress()));
    if (!copied.isOk()) report->failed(RestoreStep::kCopy, copied);
    if (status != NOERROR) {
        mark.clearIfOwn();
        return copied;
    }
    Result online = bringOnline(apiPath, &mark, report);
    // The copy's failure names the cause; the online step only follows it.
    return copied.isOk() ? online : copied;
}

}  // namespace nsfmend
