// The transaction-log directory: TRANSLOG_Path resolved, the names of
// extents and their copies, the listing of the directory's files.
#include "translog/log_directory.h"

#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "support/path.h"
#include "support/raii.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

const char kNoLogDirectoryText[] = "Fail to get transaction log directory";
const char kLogControlFileName[] = "nlogctrl.lfh";

namespace {

LogFileKind kindOf(int folderFd, const char *name) {
    struct stat st;
    if (folderFd < 0 || fstatat(folderFd, name, &st, 0) != 0) return LogFileKind::kUnknown;
    return S_ISREG(st.st_mode) ? LogFileKind::kRegular : LogFileKind::kNotRegular;
}

}  // namespace

int resolveLogDirectory(const char *dataDir, std::string *logDir) {
    logDir->clear();
    char value[kPathSize] = {};
    const BOOL found = OSGetEnvironmentString("TRANSLOG_Path", value, kPathSize - 1);
    value[kPathSize - 1] = '\0';
    if (!found) return ENOENT;
    // The data directory is asked only when a relative value needs it.
    char asked[kPathSize] = {};
    if (dataDir == nullptr && value[0] != DirSlash[0] && value[0] != '\0') {
        OSGetDataDirectory(asked);
        asked[kPathSize - 1] = '\0';
    }
    return logDirectoryFrom(dataDir != nullptr ? dataDir : asked, value, logDir);
}

int logDirectoryFrom(std::string_view dataDir, std::string_view value, std::string *logDir) {
    logDir->clear();
    if (value.empty()) return ENOENT;
    *logDir = resolveFrom(dataDir, value);
    // Cut to fit, or left relative, it would name another folder: the run
    // would delete or archive what is not the server's log.
    return logDir->size() > kLogDirectoryMax ? ENAMETOOLONG : 0;
}

std::string logControlFilePath(std::string_view logDir) {
    return joinPath(logDir, kLogControlFileName);
}

std::string archivedName(const char *destDir, DWORD logNumber, const char *suffix) {
    // Unsigned: a log number past 2^31 must not come out with a minus sign.
    char extent[32];
    (void)snprintf(extent, sizeof extent, "S%07" PRIu32 ".TXN", logNumber);
    return std::string(destDir) + extent + suffix;
}

bool formatArchivedName(char *name, size_t size, const char *destDir, DWORD logNumber,
                        const char *suffix) {
    const std::string whole = archivedName(destDir, logNumber, suffix);
    if (whole.size() >= size) {
        if (size > 0) name[0] = '\0';
        return false;
    }
    memcpy(name, whole.c_str(), whole.size() + 1);
    return true;
}

std::string capturedName(const char *destDir, const char *fileName, const char *suffix) {
    return std::string(destDir) + fileName + suffix;
}

int listLogDirectory(const char *logDir, std::vector<LogFile> *files) {
    files->clear();
    ScandirList list;
    const int count = scandir(logDir, list.out(), file_select, alphasort);
    if (count < 0) return lastError();
    list.setCount(count);
    // Looked up relative to the open folder; a folder that cannot be opened
    // leaves every kind unknown, and the copy of each then says why.
    UniqueFd folder(open(logDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    files->reserve((size_t)count);
    for (int i = 0; i < count; ++i)
        files->push_back(LogFile{list[i]->d_name, kindOf(folder.get(), list[i]->d_name)});
    return 0;
}

}  // namespace nsfmend

int file_select(const struct dirent *entry) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == ".." || name == nsfmend::kLogControlFileName) return 0;
    return 1;
}
