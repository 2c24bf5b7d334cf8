// restoreNsfDB, recoverNsfDB, getTransLogStyle: the server-side work of
// the program, reported as status strings in the caller's buffer.
#include "agent/status_ops.h"

#include <errno.h>
#include <string.h>

#include <string>

#include "recovery/recover_db.h"
#include "recovery/restore_single.h"
#include "support/path.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

void putResult(const Result &result, char *msg) {
    setMessage(msg, result.isOk() ? NSFMEND_QMR_SUCCESS : result.explanation().c_str());
}

Result tooLong(const char *what, std::string_view path, size_t limit) {
    return Result::system(ENAMETOOLONG, tooLongText(what, limit, path));
}

Result checkPathFits(const char *path) {
    // A path cut short by a buffer would name another file: refuse it whole.
    return fitsBuffer(path) ? Result::ok() : tooLong("Path", path);
}

namespace {

std::string dataDirectory() {
    char dataDir[kPathSize];
    memset(dataDir, 0, sizeof dataDir);
    OSGetDataDirectory(dataDir);
    dataDir[kPathSize - 1] = '\0';
    return dataDir;
}

// The reporting of the agent's restore: the first failure is its result,
// and nothing is said on the way.
class QuietReport : public RestoreReport {
public:
    void starting(RestoreStep) override {}
    void failed(RestoreStep, const Result &) override {}
    Progress *progress() override { return nullptr; }
};

// dbPath resolved as the server resolves it, in the native form for the
// program's own file operations and in LMBCS for the platform's.
Result resolveDatabase(const char *dbPath, std::string *native, std::string *lmbcs) {
    *native = resolveServerPath(dataDirectory(), dbPath);
    Result fits = checkPathFits(native->c_str());
    if (!fits.isOk()) return fits;
    // Translated into room to spare, so a path that grows past the API's
    // 1024-byte limit in LMBCS is seen and refused instead of cut.
    char lmbcsWide[4 * kPathSize];
    memset(lmbcsWide, 0, sizeof lmbcsWide);
    OSTranslateToLMBCS(native->c_str(), static_cast<WORD>(native->size()), lmbcsWide,
                       static_cast<WORD>(sizeof lmbcsWide));
    if (!fitsBuffer(lmbcsWide)) return tooLong("Path", *native);
    *lmbcs = lmbcsWide;
    return Result::ok();
}

Result restoreDatabase(const char *backupFile, const char *dbPath) {
    Result checked = checkPathFits(dbPath);
    if (checked.isOk()) checked = checkPathFits(backupFile);
    if (!checked.isOk()) return checked;
    std::string native, lmbcs;
    Result resolved = resolveDatabase(dbPath, &native, &lmbcs);
    if (!resolved.isOk()) return resolved;
    // Another run changing the server's files would race this one.
    RunLock lock;
    Result locked = lockRun(&lock);
    if (!locked.isOk()) return locked;
    const std::string refusal = restoreRefusal(native.c_str());
    if (!refusal.empty()) return Result::system(EPERM, refusal + ": " + dbPath);
    // Unlike the command line, 5113 stops here too: an agent that cannot
    // take the database offline must not copy over a file a server may hold.
    QuietReport report;
    return replaceLiveDatabase(backupFile, lmbcs.c_str(), native.c_str(), WhenNotInUse::kStop,
                               &report);
}

}  // namespace

Result lockRun(RunLock *lock) { return lock->take(dataDirectory().c_str()); }

Result queryLogStyle(WORD *style) {
    *style = 0;
    const STATUS status = NSFGetTransLogStyle(style);
    if (status == STATUS_LOGGING_OFF) return Result::api(status, NSFMEND_QMR_STYLE_NOT_LOGGED);
    return Result::api(status);
}

}  // namespace nsfmend

using nsfmend::putResult;
using nsfmend::Result;

extern "C" void restoreNsfDB(const char *backupFile, const char *dbPath, void * /*unused*/,
                               char *msg) {
    if (msg == nullptr) return;
    if (backupFile == nullptr || dbPath == nullptr) {
        putResult(Result::system(EINVAL), msg);
        return;
    }
    putResult(nsfmend::restoreDatabase(backupFile, dbPath), msg);
}

extern "C" void recoverNsfDB(const char *backupFile, const char *dateTime, int newDbiid,
                               int newRepid, int thirdOption, char *msg) {
    if (msg == nullptr) return;
    if (backupFile == nullptr) {
        putResult(Result::system(EINVAL), msg);
        return;
    }
    Result result = nsfmend::checkPathFits(backupFile);
    if (result.isOk())
        result = nsfmend::recoverBackupFile(backupFile, dateTime, newDbiid, newRepid, thirdOption, 0);
    putResult(result, msg);
}

extern "C" void getTransLogStyle(char *msg) {
    if (msg == nullptr) return;
    WORD style = 0;
    const Result asked = nsfmend::queryLogStyle(&style);
    if (!asked.isOk())
        putResult(asked, msg);
    else if (style == 0)
        nsfmend::setMessage(msg, NSFMEND_QMR_STYLE_CIRCULAR);
    else if (style == 1)
        nsfmend::setMessage(msg, NSFMEND_QMR_STYLE_ARCHIVE);
    else
        nsfmend::setMessage(msg, NSFMEND_QMR_STYLE_UNKNOWN);
}
