// archiveHalfFilledLogs: every file of the log directory that has no copy in
// the destination yet is copied there, named as the archive loop names it.
#include "agent/half_filled.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "agent/durable.h"
#include "agent/status_ops.h"
#include "support/copy.h"
#include "support/raii.h"
#include "support/text.h"

const char kLogControlFileName[] = "nlogctrl.lfh";

namespace {

// Existence test of the archived name by opening it as a folder: only ENOENT
// means nothing of that name is there. A file (ENOTDIR), a folder (opens)
// or a destination we cannot search (EACCES) all mean: leave it alone.
bool nameIsFree(const char *archivedName) {
    UniqueDir folder(opendir(archivedName));
    if (folder) return false;
    return errno == ENOENT;
}

}  // namespace

int file_select(const struct dirent *entry) {
    std::string_view name(entry->d_name);
    if (name == "." || name == ".." || name == kLogControlFileName) return 0;
    return 1;
}

extern "C" int archiveHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix,
                                     char *msg) {
    if (msg == nullptr) return 0;
    if (logDir == nullptr || destDir == nullptr) {
        get_sys_error_message(EINVAL, msg);
        return 0;
    }
    if (suffix == nullptr) suffix = "";

    ScandirList list;
    int count = scandir(logDir, list.out(), file_select, alphasort);
    if (count < 0) {
        get_sys_error_message(errno, msg);
        return 0;
    }
    list.setCount(count);
    if (count == 0) {
        formatMessage(msg, "No files under transaction log dir: %s\n", logDir);
        return 0;
    }

    size_t dirLength = strlen(logDir);
    const char *separator = (dirLength > 0 && logDir[dirLength - 1] == DirSlash[0]) ? "" : DirSlash;
    for (int i = 0; i < list.count(); ++i) {
        const char *name = list[i]->d_name;
        char sourcePath[kPathSize];
        char archivedName[kPathSize];
        memset(archivedName, 0, sizeof archivedName);
        int length = snprintf(sourcePath, sizeof sourcePath, "%s%s%s", logDir, separator, name);
        if (length < 0 || static_cast<size_t>(length) >= sizeof sourcePath) {
            formatMessage(msg, "Source path too long (over 1023 characters): %s%s%s", logDir,
                          separator, name);
            return 0;
        }
        length = snprintf(archivedName, sizeof archivedName, "%s%s%s", destDir, name, suffix);
        if (length < 0 || static_cast<size_t>(length) >= sizeof archivedName) {
            formatMessage(msg, "Archived name too long (over 1023 characters): %s%s%s", destDir,
                          name, suffix);
            return 0;
        }
        if (!nameIsFree(archivedName)) continue;

        int result = LogFileCopy(sourcePath, archivedName, 1);
        if (result != 0) {
            char reason[kMessageSize];
            get_sys_error_message(result, reason);
            formatMessage(msg, "Error copying file %s to %s. %s", sourcePath, archivedName, reason);
            return 0;
        }
        result = syncFile(archivedName);
        if (result == 0) result = syncParentDirectory(archivedName);
        if (result != 0) {
            char reason[kMessageSize];
            get_sys_error_message(result, reason);
            formatMessage(msg, "Error syncing archived file %s. %s", archivedName, reason);
            return 0;
        }
    }
    return 1;
}
