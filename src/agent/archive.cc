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
bool emptyDestination(const char *destDir, char *msg) {
    if (destDir != nullptr && destDir[0] != '\0') return false;
    setMessage(msg, "Invalid destination directory: empty");
    return true;
}

// Arguments the run can never work with, refused before the run lock is
// taken or the server asked, so nothing is copied or reported archived.
bool acceptableArguments(const char *suffix, const char *destDir, char *msg) {
    if (emptyDestination(destDir, msg)) return false;
    // The shortest name an extent can get.
    const std::string shortest = archivedName(destDir, 0, suffix);
    if (shortest.size() >= kPathSize) {
        describeNameTooLong(msg, shortest);
        return false;
    }
    return true;
}

// The half-filled capture from the server's log directory.
bool captureLogDirectory(const char *destDir, const char *suffix, ArchiveRecordWriter *records,
                         char *msg) {
    std::string logDir;
    const int resolved = resolveLogDirectory(nullptr, &logDir);
    if (resolved == ENOENT) {
        setMessage(msg, kNoLogDirectoryText);
        return false;
    }
    if (resolved != 0) {
        formatMessage(msg, "Log directory too long (over 1022 characters): %s", logDir.c_str());
        return false;
    }
    return captureHalfFilledLogs(logDir.c_str(), destDir, suffix, records, msg) != 0;
}

// The archiving run; the caller holds the run lock.
WORD archiveLogs(const char *suffix, const char *destDir, char *timeStamp, char *timeFormat,
                 char *msg) {
    WORD style = 0;
    if (!queryLogStyle(&style, msg)) return 1;
    // Circular and linear logs are reused by the server itself; only the
    // archive style (and styles this library does not know) hand out extents.
    if (style == 0 || style == 2) {
        setMessage(msg, NSFMEND_QMR_STYLE_ARCHIVE);
        return 1;
    }

    STATUS apiStatus = NSFBeginArchivingLogs();
    if (apiStatus != NOERROR) {
        get_api_error_message(apiStatus, msg);
        return 1;
    }
    // From here on the bracket is open: every path below reaches
    // NSFEndArchivingLogs exactly once.
    removeArchiveLeftovers(destDir);
    if (timeStamp != nullptr) getCurrentTime(timeStamp, timeFormat);

    // The run's one record: what it archived, kept up to date as it goes.
    ArchiveRecordWriter records;
    WORD status = 0;
    bool firstTurn = true;
    while (status == 0) {
        UNID logId;
        DWORD logNumber = 0;
        char extentPath[kPathSize];
        memset(&logId, 0, sizeof logId);
        memset(extentPath, 0, sizeof extentPath);
        apiStatus = firstTurn ? NSFGetFirstLogToArchive(&logId, &logNumber, extentPath)
                              : NSFGetNextLogToArchive(&logId, &logNumber, extentPath);
        firstTurn = false;
        extentPath[kPathSize - 1] = '\0';
        if (apiStatus == STATUS_NO_LOG_TO_ARCHIVE) break;
        if (apiStatus != NOERROR) {
            get_api_error_message(apiStatus, msg);
            status = 1;
            break;
        }
        int result = SysFileCreateDirectory(destDir);
        if (result != 0) {
            formatMessage(msg, "Error creating directory %s. %s", destDir,
                          systemText(result).c_str());
            status = 1;
            break;
        }
        const std::string archived = archivedName(destDir, logNumber, suffix);
        if (archived.size() >= kPathSize) {
            describeNameTooLong(msg, archived);
            status = 1;
            break;
        }
        // Once told, the server may reuse the extent: the copy and its folder
        // entry are on disk before NSFDoneArchivingLog, and a copy an earlier
        // run already made counts as made.
        result = archiveFile(extentPath, archived.c_str());
        if (result != 0) {
            describeCopyFailure(msg, extentPath, archived.c_str(), result);
            status = 1;
            break;
        }
        // Recorded before the server is told too: an extent it may reuse
        // afterwards is never one that no record names.
        result = records.add(archived, &logId);
        if (result != 0) {
            describeRecordFailure(msg, archived, records.recordPath(), result);
            status = 1;
            break;
        }
        result = records.write();
        if (result != 0) {
            describeRecordWriteFailure(msg, records.recordPath(), result);
            status = 1;
            break;
        }
        apiStatus = NSFDoneArchivingLog(&logId, &logNumber);
        if (apiStatus != NOERROR) {
            get_api_error_message(apiStatus, msg);
            status = 1;
            break;
        }
    }

    // The capture runs whatever the loop's outcome: extents still being
    // filled are worth saving even when an earlier one could not be. The
    // first failure's text is the one that names the cause (a read-only
    // destination makes the capture fail too, with a text that misleads).
    char laterFailure[kMessageSize];
    memset(laterFailure, 0, sizeof laterFailure);
    if (!captureLogDirectory(destDir, suffix, &records, status == 0 ? msg : laterFailure))
        status = 1;

    apiStatus = NSFEndArchivingLogs();
    if (apiStatus != NOERROR && status == 0) {
        get_api_error_message(apiStatus, msg);
        status = 1;
    }
    if (status == 0) setMessage(msg, NSFMEND_QMR_SUCCESS);
    return status;
}

}  // namespace
}  // namespace nsfmend

extern "C" WORD DoArchiveLogs(const char *suffix, const char *destDir, char *timeStamp,
                              char *timeFormat, char *msg) {
    if (msg == nullptr) return 1;
    if (suffix == nullptr) suffix = "";
    if (!nsfmend::acceptableArguments(suffix, destDir, msg)) return 1;
    nsfmend::RunLock lock;
    if (!nsfmend::lockRun(&lock, msg)) return 1;
    return nsfmend::archiveLogs(suffix, destDir, timeStamp, timeFormat, msg);
}

extern "C" void spoolNsfArchiveLogs(const char *destDir, const char *suffix, char *timeStamp,
                                      char *timeFormat, char *msg) {
    using nsfmend::kPathSize;
    if (msg == nullptr) return;
    if (nsfmend::emptyDestination(destDir, msg)) return;
    const size_t length = strnlen(destDir, kPathSize);
    if (length > kPathSize - 2) {
        nsfmend::formatMessage(msg, "Destination directory too long (over 1022 characters): %s",
                               destDir);
        return;
    }
    char folder[kPathSize];
    memset(folder, 0, sizeof folder);
    memcpy(folder, destDir, length);
    if (folder[length - 1] != DirSlash[0]) folder[length] = DirSlash[0];

    if (suffix == nullptr) suffix = "";
    if (!nsfmend::acceptableArguments(suffix, folder, msg)) return;
    // Held from before the folder is made to after the bracket is closed.
    nsfmend::RunLock lock;
    if (!nsfmend::lockRun(&lock, msg)) return;
    // A failure here is reported by the loop, which creates it again before
    // each extent; the message buffer is always written by the run.
    SysFileCreateDirectory(folder);
    if (nsfmend::archiveLogs(suffix, folder, timeStamp, timeFormat, msg) == 0)
        nsfmend::setMessage(msg, NSFMEND_QMR_SUCCESS);
}
