// archiveHalfFilledLogs: every regular file of the log directory gets its
// copy in the destination, named as the archive loop names it and under the
// loop's rules, which takes in the extents the server is still filling.
#include "agent/half_filled.h"

#include <errno.h>

#include <string>
#include <vector>

#include "agent/archived_copy.h"
#include "agent/status_ops.h"
#include "support/text.h"
#include "translog/log_directory.h"

namespace nsfmend {

int captureHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix, char *msg) {
    if (logDir == nullptr || destDir == nullptr) {
        get_sys_error_message(EINVAL, msg);
        return 0;
    }
    if (suffix == nullptr) suffix = "";

    std::vector<LogFile> files;
    const int listed = listLogDirectory(logDir, &files);
    if (listed != 0) {
        get_sys_error_message(listed, msg);
        return 0;
    }
    int copied = 0;
    for (const LogFile &file : files) {
        // Only regular files (or links to one) are extents: a FIFO would
        // block the copy, a device never end, a folder holds no log.
        if (file.kind == LogFileKind::kNotRegular) continue;
        ++copied;
        const std::string source = joinPath(logDir, file.name);
        if (source.size() >= kPathSize) {
            formatMessage(msg, "Source path too long (over 1023 characters): %s", source.c_str());
            return 0;
        }
        const std::string archived = capturedName(destDir, file.name.c_str(), suffix);
        if (archived.size() >= kPathSize) {
            describeNameTooLong(msg, archived);
            return 0;
        }
        // The same rules as the archive loop: an identical copy is kept, an
        // earlier capture of the same extent is completed, anything else of
        // that name is a failure rather than a silent skip.
        const int result = archiveFile(source.c_str(), archived.c_str());
        if (result != 0) {
            describeCopyFailure(msg, source.c_str(), archived.c_str(), result);
            return 0;
        }
    }
    if (copied == 0) {
        formatMessage(msg, "No files under transaction log dir: %s\n", logDir);
        return 0;
    }
    return 1;
}

}  // namespace nsfmend

extern "C" int archiveHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                                     char *msg) {
    if (msg == nullptr) return 0;
    nsfmend::RunLock lock;
    if (!nsfmend::lockRun(&lock, msg)) return 0;
    return nsfmend::captureHalfFilledLogs(logDir, destDir, suffix, msg);
}
