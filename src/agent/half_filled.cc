// archiveHalfFilledLogs: every regular file of the log directory gets its
// copy in the destination, named as the archive loop names it and under the
// loop's rules, which takes in the extents the server is still filling.
#include "agent/half_filled.h"

#include <errno.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "agent/archived_copy.h"
#include "agent/status_ops.h"
#include "agent/texts.h"
#include "support/path.h"
#include "support/result.h"
#include "support/sha256.h"
#include "support/text.h"
#include "translog/archive_record.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

// Copies every file it can; ok, or the first failure. A file that fails
// does not stop the others: one bad name must not leave the newest
// transactions unsaved.
Result captureFiles(const char *logDir, const char *destDir, const char *suffix,
                    ArchiveRecordWriter *records) {
    std::vector<LogFile> files;
    const int listed = listLogDirectory(logDir, &files);
    if (listed != 0) return Result::system(listed);
    int copied = 0;
    // Only the first failure is reported.
    Result first;
    auto keep = [&first](Result failure) {
        if (first.isOk()) first = std::move(failure);
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
        if (!fitsBuffer(source)) {
            keep(tooLong("Source path", source));
            continue;
        }
        const std::string archived = capturedName(destDir, file.name.c_str(), suffix);
        if (!fitsBuffer(archived)) {
            keep(archivedNameTooLong(archived));
            continue;
        }
        // The same rules as the archive loop: an identical copy is kept, an
        // earlier capture of the same extent is completed, anything else of
        // that name is a failure rather than a silent skip.
        Sha256 digest;
        int result = archiveFile(source.c_str(), archived.c_str(), &digest);
        if (result != 0) {
            keep(copyFailure(source.c_str(), archived.c_str(), result));
            continue;
        }
        // No log ID: the server did not hand this file out.
        result = records->add(archived, nullptr, &digest);
        if (result != 0) keep(recordFailure(archived, records->recordPath(), result));
    }
    if (copied == 0)
        return Result::system(ENOENT, formatText(NSFMEND_TEXT_NO_FILES_TO_CAPTURE, logDir));
    return first;
}

}  // namespace

Result captureHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                             ArchiveRecordWriter *records) {
    if (logDir == nullptr || destDir == nullptr) return Result::system(EINVAL);
    if (suffix == nullptr) suffix = "";
    Result captured = captureFiles(logDir, destDir, suffix, records);
    // The copies made before a failure are on disk: they are recorded too.
    // The first failure's text stays, as it names the cause.
    const int written = records->write();
    if (written != 0 && captured.isOk()) return recordWriteFailure(records->recordPath(), written);
    return captured;
}

}  // namespace nsfmend

extern "C" int archiveHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                                     char *msg) {
    if (msg == nullptr) return 0;
    nsfmend::RunLock lock;
    nsfmend::Result result = nsfmend::lockRun(&lock);
    if (result.isOk()) {
        // Hidden temporary files of a run stopped here before, its record's too.
        if (destDir != nullptr) nsfmend::removeArchiveLeftovers(destDir);
        nsfmend::ArchiveRecordWriter records;
        result = nsfmend::captureHalfFilledLogs(logDir, destDir, suffix, &records);
    }
    // Success leaves the message buffer as it was.
    if (!result.isOk()) nsfmend::putResult(result, msg);
    return result.isOk() ? 1 : 0;
}
