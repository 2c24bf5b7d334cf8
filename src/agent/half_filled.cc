// archiveHalfFilledLogs: every regular file of the log directory gets its
// copy in the destination, named as the archive loop names it and under the
// loop's rules, which takes in the extents the server is still filling.
#include "agent/half_filled.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "agent/archived_copy.h"
#include "agent/status_ops.h"
#include "support/raii.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

const char kLogControlFileName[] = "nlogctrl.lfh";

namespace {

// Only regular files (or links to one) are extents: a FIFO would block the
// copy, a device never end, a folder holds no log. A name that cannot be
// looked up is left to the copy, which reports why.
bool isSpecialFile(int folderFd, const char *name) {
    struct stat st;
    if (folderFd < 0 || fstatat(folderFd, name, &st, 0) != 0) return false;
    return !S_ISREG(st.st_mode);
}

}  // namespace

int captureHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix, char *msg) {
    if (logDir == nullptr || destDir == nullptr) {
        get_sys_error_message(EINVAL, msg);
        return 0;
    }
    if (suffix == nullptr) suffix = "";

    ScandirList list;
    const int count = scandir(logDir, list.out(), file_select, alphasort);
    if (count < 0) {
        get_sys_error_message(lastError(), msg);
        return 0;
    }
    list.setCount(count);
    UniqueFd folder(open(logDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int copied = 0;
    for (int i = 0; i < list.count(); ++i) {
        const char *name = list[i]->d_name;
        if (isSpecialFile(folder.get(), name)) continue;
        ++copied;
        const std::string source = joinPath(logDir, name);
        if (source.size() >= kPathSize) {
            formatMessage(msg, "Source path too long (over 1023 characters): %s", source.c_str());
            return 0;
        }
        const std::string archived = std::string(destDir) + name + suffix;
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

int file_select(const struct dirent *entry) {
    std::string_view name(entry->d_name);
    if (name == "." || name == ".." || name == nsfmend::kLogControlFileName) return 0;
    return 1;
}

extern "C" int archiveHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                                     char *msg) {
    if (msg == nullptr) return 0;
    nsfmend::RunLock lock;
    if (!nsfmend::lockRun(&lock, msg)) return 0;
    return nsfmend::captureHalfFilledLogs(logDir, destDir, suffix, msg);
}
