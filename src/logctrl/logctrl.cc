// Reset of the transaction-log control state: notes.ini gets
// TRANSLOG_Recreate_Logctrl=1 and the log control file is deleted, so the
// restarted runtime rebuilds its log control from the archived extents.
#include "logctrl/logctrl.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "notesapi/notesapi.h"
#include "support/durable.h"
#include "support/path.h"
#include "support/raii.h"
#include "support/sizes.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

const char kKey[] = "TRANSLOG_RECREATE_LOGCTRL=";
const char kSettingLine[] = "TRANSLOG_Recreate_Logctrl=1\n";

// The key compared without regard to ASCII case, with nothing before it.
bool setsKey(std::string_view line) {
    const size_t keyLen = sizeof kKey - 1;
    if (line.size() < keyLen) return false;
    for (size_t i = 0; i < keyLen; i++)
        if (toupper((unsigned char)line[i]) != kKey[i]) return false;
    return true;
}

// A line that holds the setting already: the key and the value 1, with
// blanks or a carriage return after it (a file edited on another system).
bool holdsSetting(std::string_view line) {
    if (!setsKey(line)) return false;
    std::string_view value = line.substr(sizeof kKey - 1);
    while (!value.empty() && isspace((unsigned char)value.back())) value.remove_suffix(1);
    return value == "1";
}

// The setting line as written, "TRANSLOG_Recreate_Logctrl=1", followed by
// nothing but blanks, a carriage return and the line end.
bool isSettingLine(std::string_view line) {
    const std::string_view setting(kSettingLine, sizeof kSettingLine - 2);
    if (line.substr(0, setting.size()) != setting) return false;
    return line.find_first_not_of(" \t\r\n", setting.size()) == std::string_view::npos;
}

std::string deletionLine(std::string_view path, int error) {
    return logControlDeletionFailure(path) + ", Reason=" + systemText(error);
}

// The failure line of the deletion, with the system's text for error.
int deletionFailed(const std::string &path, int error) {
    printf("%s\n", deletionLine(path, error).c_str());
    return 0;
}

// 0 when folder holds nothing (remove() takes it then), ENOTEMPTY when it
// holds anything, or the errno of listing it.
int emptyFolder(const std::string &folder) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return lastError();
    UniqueDir owner(dir);
    errno = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): our own stream; readdir is safe per stream
    while (const struct dirent *entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") return ENOTEMPTY;
    }
    return errno != 0 ? lastError() : 0;
}

}  // namespace

std::string logControlDeletionFailure(std::string_view path) {
    return "Fail to delete log control file " + std::string(path);
}

bool asksToRecreateLogControl(std::string_view content) {
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        if (holdsSetting(content.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

std::string iniSetting(std::string_view content, std::string_view name) {
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(start, end - start);
        start = end + 1;
        if (line.size() <= name.size() || line[name.size()] != '=') continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; i++)
            same = toupper((unsigned char)line[i]) == toupper((unsigned char)name[i]);
        if (!same) continue;
        std::string_view value = line.substr(name.size() + 1);
        while (!value.empty() && isspace((unsigned char)value.back())) value.remove_suffix(1);
        return std::string(value);
    }
    return "";
}

std::string iniDataDirectory(std::string_view iniPath, std::string_view content) {
    const std::string folder = parentOf(iniPath);
    const std::string directory = iniSetting(content, "Directory");
    return directory.empty() ? folder : resolveFrom(folder, directory);
}

Result checkRecreateLogControl(const char *iniPath) {
    std::string content;
    int error = readWholeFile(iniPath, &content);
    if (error != 0) return Result::system(error, std::string("Fail to open ") + iniPath);
    std::string folder;
    error = checkReplaceable(iniPath, &folder);
    unsigned long long available = 0;
    if (error == 0) error = roomFor(folder, withRecreateLogControl(content).size(), &available);
    return Result::system(error, std::string("Fail to edit ") + iniPath);
}

Result checkRemoveLogControlFile(std::string_view logDir) {
    const std::string path = logControlFilePath(logDir);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        const int error = lastError();
        return error == ENOENT ? Result::ok() : Result::system(error, deletionLine(path, error));
    }
    // remove() unlinks a file through its folder, and takes a folder only
    // when it is empty.
    int error = accessAllowed(std::string(logDir).c_str(), W_OK | X_OK);
    if (error == 0 && S_ISDIR(st.st_mode)) error = emptyFolder(path);
    return Result::system(error, deletionLine(path, error));
}

std::string withRecreateLogControl(std::string_view content) {
    std::string out;
    out.reserve(content.size() + sizeof kSettingLine);
    bool found = false;
    // An editor's UTF-8 byte-order mark is not part of the first key; it
    // stays where it was.
    const std::string_view bom = "\xEF\xBB\xBF";
    const size_t bomLength = content.substr(0, bom.size()) == bom ? bom.size() : 0;
    out += content.substr(0, bomLength);
    size_t start = bomLength;
    // Whole lines, however long: a later part of a long line is never
    // mistaken for a line of its own.
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        end = end == std::string_view::npos ? content.size() : end + 1;
        std::string_view line = content.substr(start, end - start);
        // The setting line as this program writes it, with blanks or a
        // carriage return after it, stays as it is; any other line that
        // sets the key (another case, another value) becomes the setting.
        if (setsKey(line) && !isSettingLine(line)) {
            out += kSettingLine;
        } else {
            out += line;
        }
        found = found || setsKey(line);
        start = end;
    }
    if (!found) {
        // Keep the setting off the end of a last line that has no line end.
        if (out.size() > bomLength && out.back() != '\n') out += '\n';
        out += kSettingLine;
    }
    return out;
}

}  // namespace nsfmend

using nsfmend::deletionFailed;

int setRecreateLogControl(const char *iniPath) {
    using nsfmend::readWholeFile;
    using nsfmend::replaceFileContent;
    using nsfmend::withRecreateLogControl;
    // The whole file (NUL bytes included), or nothing: a file we could not
    // read completely is never rewritten.
    std::string content;
    if (readWholeFile(iniPath, &content) != 0) {
        printf("Fail to open %s\n", iniPath);
        return 0;
    }
    // notes.ini is replaced whole by a synced new file, never truncated: a
    // server that cannot start on a torn notes.ini is worse than no reset,
    // and "Fail to edit" always means the file is as it was.
    if (replaceFileContent(iniPath, withRecreateLogControl(content)) != 0) {
        printf("Fail to edit %s\n", iniPath);
        return 0;
    }
    printf("Update %s with TRANSLOG_Recreate_Logctrl=1\n", iniPath);
    return 1;
}

int removeLogControlFile(const char *dataDirectory) {
    std::string logDir;
    const int resolved = nsfmend::resolveLogDirectory(dataDirectory, &logDir);
    if (resolved == ENOENT) {
        printf("%s\n", nsfmend::kNoLogDirectoryText);
        return 0;
    }
    // A path that does not fit the buffer is refused rather than cut to
    // name another file.
    if (resolved != 0) return deletionFailed(nsfmend::logControlFilePath(logDir), ENAMETOOLONG);
    return nsfmend::removeLogControlFileIn(logDir);
}

int nsfmend::removeLogControlFileIn(const std::string &logDir) {
    const std::string path = logControlFilePath(logDir);
    if (path.size() >= kPathSize) return deletionFailed(path, ENAMETOOLONG);
    // The folders come as the file system names them; the deletion takes the
    // API's character set, or a non-ASCII folder would name a file that is
    // not there and the missing file would pass for deleted.
    char lmbcsPath[kPathSize] = {};
    OSTranslateToLMBCS(path.c_str(), (WORD)path.size(), lmbcsPath, sizeof lmbcsPath);
    if (strlen(lmbcsPath) >= kPathSize - 1) return deletionFailed(path, ENAMETOOLONG);

    const int rc = SysFileDelete(lmbcsPath);
    if (rc != 0 && rc != ENOENT) return deletionFailed(path, rc);
    printf("Delete log control file %s\n", path.c_str());
    return 1;
}
