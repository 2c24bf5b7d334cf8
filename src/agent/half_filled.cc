// archiveHalfFilledLogs: every regular file of the log directory gets its
// copy in the destination, named as the archive loop names it and under the
// loop's rules, which takes in the extents the server is still filling.
#include "agent/half_filled.h"

#include <errno.h>
#include <string.h>

#include <string>
#include <vector>

#include "agent/archived_copy.h"
#include "agent/status_ops.h"
#include "support/text.h"
#include "translog/archive_record.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

// Copies every file it can; 1, or 0 with the first failure in msg. A file
// that fails does not stop the others: one bad name must not leave the
// newest transactions unsaved.
int captureFiles(const char *logDir, const char *destDir, const char *suffix,
                 ArchiveRecordWriter *records, char *msg) {
    std::vector<LogFile> files;
    const int listed = listLogDirectory(logDir, &files);
    if (listed != 0) {
        get_sys_error_message(listed, msg);
        return 0;
    }
    int copied = 0;
    bool failed = false;
    // Only the first failure is reported; the later ones go to scratch.
    char later[kMessageSize];
    memset(later, 0, sizeof later);
    auto failure = [&]() {
        char *text = failed ? later : msg;
        failed = true;
        return text;
    };
    for (const LogFile &file : files) {
        // Only regular files (or links to one) are extents: a FIFO would
        // block the copy, a device never end, a folder holds no log. Hidden
        // names are temporary files (a stopped run's own, among them), never
        // the server's; an archive record copied in for a check is not one
        // either.
        if (file.kind == LogFileKind::kNotRegular) continue;
        if (file.name[0] == '.' || parseArchiveRecordName(file.name, nullptr)) continue;
        ++copied;
        const std::string source = joinPath(logDir, file.name);
        if (source.size() >= kPathSize) {
            formatMessage(failure(), "Source path too long (over 1023 characters): %s",
                          source.c_str());
            continue;
        }
        const std::string archived = capturedName(destDir, file.name.c_str(), suffix);
        if (archived.size() >= kPathSize) {
            describeNameTooLong(failure(), archived);
            continue;
        }
        // The same rules as the archive loop: an identical copy is kept, an
        // earlier capture of the same extent is completed, anything else of
        // that name is a failure rather than a silent skip.
        int result = archiveFile(source.c_str(), archived.c_str());
        if (result != 0) {
            describeCopyFailure(failure(), source.c_str(), archived.c_str(), result);
            continue;
        }
        // No log ID: the server did not hand this file out.
        result = records->add(archived, nullptr);
        if (result != 0) describeRecordFailure(failure(), archived, records->recordPath(), result);
    }
    if (copied == 0) {
        formatMessage(msg, "No files under transaction log dir: %s\n", logDir);
        return 0;
    }
    return failed ? 0 : 1;
}

}  // namespace

int captureHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                          ArchiveRecordWriter *records, char *msg) {
    if (logDir == nullptr || destDir == nullptr) {
        get_sys_error_message(EINVAL, msg);
        return 0;
    }
    if (suffix == nullptr) suffix = "";
    int ok = captureFiles(logDir, destDir, suffix, records, msg);
    // The copies made before a failure are on disk: they are recorded too.
    // The first failure's text stays, as it names the cause.
    const int written = records->write();
    if (written != 0 && ok == 1) {
        describeRecordWriteFailure(msg, records->recordPath(), written);
        ok = 0;
    }
    return ok;
}

}  // namespace nsfmend

extern "C" int archiveHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                                     char *msg) {
    if (msg == nullptr) return 0;
    nsfmend::RunLock lock;
    if (!nsfmend::lockRun(&lock, msg)) return 0;
    // Hidden temporary files of a run stopped here before, its record's too.
    if (destDir != nullptr) nsfmend::removeArchiveLeftovers(destDir);
    nsfmend::ArchiveRecordWriter records;
    return nsfmend::captureHalfFilledLogs(logDir, destDir, suffix, &records, msg);
}
