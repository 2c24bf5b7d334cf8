// spoolNsfArchiveLogs, DoArchiveLogs, getCurrentTime.
#include "agent/archive.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "agent/archived_copy.h"
#include "agent/half_filled.h"
#include "agent/status_ops.h"
#include "agent/texts.h"
#include "support/path.h"
#include "support/result.h"
#include "support/sha256.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/archive_record.h"
#include "translog/log_directory.h"

const char nsfmend::kTimeStampFormat[] = "%Y-%m-%d-%H-%M-%S";

using nsfmend::kMessageSize;
using nsfmend::kTimeStampFormat;

void getCurrentTime(char *timeStamp, char *timeFormat) {
    char scratch[kMessageSize];
    memset(scratch, 0, sizeof scratch);
    time_t now = time(nullptr);
    struct tm local;
    memset(&local, 0, sizeof local);
    // strftime leaves the array undefined when the text does not fit.
    if (localtime_r(&now, &local) == nullptr ||
        strftime(scratch, sizeof scratch, kTimeStampFormat, &local) == 0)
        scratch[0] = '\0';
    // Both texts are cut to the caller's documented buffer sizes.
    if (timeStamp != nullptr) (void)snprintf(timeStamp, NSFMEND_TIMESTAMP_SIZE, "%.19s", scratch);
    if (timeFormat != nullptr)
        (void)snprintf(timeFormat, NSFMEND_TIMEFORMAT_SIZE, "%s", kTimeStampFormat);
}

namespace nsfmend {
namespace {

// An empty destination has no folder to archive into, and no last
// character to test for the separator.
Result checkDestination(const char *destDir) {
    if (destDir != nullptr && destDir[0] != '\0') return Result::ok();
    return Result::system(EINVAL, NSFMEND_TEXT_INVALID_DESTINATION);
}

// Arguments the run can never work with, refused before the run lock is
// taken or the server asked, so nothing is copied or reported archived.
Result checkArguments(const char *suffix, const char *destDir) {
    Result checked = checkDestination(destDir);
    if (!checked.isOk()) return checked;
    // The shortest name an extent can get.
    const std::string shortest = archivedName(destDir, 0, suffix);
    return fitsBuffer(shortest) ? Result::ok() : archivedNameTooLong(shortest);
}

// The half-filled capture from the server's log directory.
Result captureLogDirectory(const char *destDir, const char *suffix, ArchiveRecordWriter *records) {
    std::string logDir;
    const int resolved = resolveLogDirectory(nullptr, &logDir);
    if (resolved == ENOENT) return Result::system(ENOENT, kNoLogDirectoryText);
    if (resolved != 0) return tooLong("Log directory", logDir, kLogDirectoryMax);
    return captureHalfFilledLogs(logDir.c_str(), destDir, suffix, records);
}

// One extent the server handed out: copied, recorded, and only then
// reported archived.
Result archiveExtent(const char *suffix, const char *destDir, UNID *logId, DWORD logNumber,
                     const char *extentPath, ArchiveRecordWriter *records) {
    int result = SysFileCreateDirectory(destDir);
    if (result != 0)
        return Result::system(
            result, formatText(NSFMEND_TEXT_CREATING_DIRECTORY, destDir, systemText(result).c_str()));
    const std::string archived = archivedName(destDir, logNumber, suffix);
    if (!fitsBuffer(archived)) return archivedNameTooLong(archived);
    // Once told, the server may reuse the extent: the copy and its folder
    // entry are on disk before NSFDoneArchivingLog, and a copy an earlier
    // run already made counts as made.
    Sha256 digest;
    result = archiveFile(extentPath, archived.c_str(), &digest);
    if (result != 0) return copyFailure(extentPath, archived.c_str(), result);
    // Recorded before the server is told too: an extent it may reuse
    // afterwards is never one that no record names.
    result = records->add(archived, logId, &digest);
    if (result != 0) return recordFailure(archived, records->recordPath(), result);
    result = records->write();
    if (result != 0) return recordWriteFailure(records->recordPath(), result);
    return Result::api(NSFDoneArchivingLog(logId, &logNumber));
}

// Every extent the server offers, until it has none (status 5086) or one
// fails.
Result archiveExtents(const char *suffix, const char *destDir, ArchiveRecordWriter *records) {
    for (bool first = true;; first = false) {
        UNID logId;
        DWORD logNumber = 0;
        char extentPath[kPathSize];
        memset(&logId, 0, sizeof logId);
        memset(extentPath, 0, sizeof extentPath);
        const STATUS offered = first ? NSFGetFirstLogToArchive(&logId, &logNumber, extentPath)
                                     : NSFGetNextLogToArchive(&logId, &logNumber, extentPath);
        extentPath[kPathSize - 1] = '\0';
        if (offered == STATUS_NO_LOG_TO_ARCHIVE) return Result::ok();
        if (offered != NOERROR) return Result::api(offered);
        Result archived = archiveExtent(suffix, destDir, &logId, logNumber, extentPath, records);
        if (!archived.isOk()) return archived;
    }
}

// The archiving run; the caller holds the run lock.
Result archiveLogs(const char *suffix, const char *destDir, char *timeStamp, char *timeFormat) {
    WORD style = 0;
    Result asked = queryLogStyle(&style);
    if (!asked.isOk()) return asked;
    // Circular and linear logs are reused by the server itself; only the
    // archive style (and styles this library does not know) hand out extents.
    if (style == 0 || style == 2) return Result::system(EINVAL, NSFMEND_QMR_STYLE_ARCHIVE);

    Result begun = Result::api(NSFBeginArchivingLogs());
    if (!begun.isOk()) return begun;
    // From here on the bracket is open: every path below reaches
    // NSFEndArchivingLogs exactly once.
    removeArchiveLeftovers(destDir);
    if (timeStamp != nullptr) getCurrentTime(timeStamp, timeFormat);

    // The run's one record: what it archived, kept up to date as it goes.
    ArchiveRecordWriter records;
    Result looped = archiveExtents(suffix, destDir, &records);
    // The capture runs whatever the loop's outcome: extents still being
    // filled are worth saving even when an earlier one could not be. The
    // first failure's text is the one that names the cause (a read-only
    // destination makes the capture fail too, with a text that misleads).
    const Result captured = captureLogDirectory(destDir, suffix, &records);
    const Result ended = Result::api(NSFEndArchivingLogs());
    if (!looped.isOk()) return looped;
    return captured.isOk() ? ended : captured;
}

}  // namespace
}  // namespace nsfmend

using nsfmend::putResult;
using nsfmend::Result;

extern "C" WORD DoArchiveLogs(const char *suffix, const char *destDir, char *timeStamp,
                              char *timeFormat, char *msg) {
    if (msg == nullptr) return 1;
    if (suffix == nullptr) suffix = "";
    Result result = nsfmend::checkArguments(suffix, destDir);
    nsfmend::RunLock lock;
    if (result.isOk()) result = nsfmend::lockRun(&lock);
    if (result.isOk()) result = nsfmend::archiveLogs(suffix, destDir, timeStamp, timeFormat);
    putResult(result, msg);
    return result.isOk() ? 0 : 1;
}

extern "C" void spoolNsfArchiveLogs(const char *destDir, const char *suffix, char *timeStamp,
                                      char *timeFormat, char *msg) {
    if (msg == nullptr) return;
    if (suffix == nullptr) suffix = "";
    Result result = nsfmend::checkDestination(destDir);
    // The folder with its final "/": the archived names are built on it,
    // so it is refused at a length where that "/" could not follow.
    const size_t most = nsfmend::kPathSize - 2;
    std::string folder;
    if (result.isOk() && !nsfmend::fitsBuffer(destDir, most + 1))
        result = nsfmend::tooLong("Destination directory", destDir, most);
    if (result.isOk()) folder = nsfmend::joinPath(destDir, "");
    if (result.isOk()) result = nsfmend::checkArguments(suffix, folder.c_str());
    // Held from before the folder is made to after the bracket is closed.
    nsfmend::RunLock lock;
    if (result.isOk()) result = nsfmend::lockRun(&lock);
    if (result.isOk()) {
        // A failure here is reported by the loop, which creates it again
        // before each extent.
        SysFileCreateDirectory(folder.c_str());
        result = nsfmend::archiveLogs(suffix, folder.c_str(), timeStamp, timeFormat);
    }
    putResult(result, msg);
}
