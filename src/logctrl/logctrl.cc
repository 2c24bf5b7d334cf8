// Reset of the transaction-log control state: notes.ini gets
// TRANSLOG_Recreate_Logctrl=1 and the log control file is deleted, so the
// restarted runtime rebuilds its log control from the archived extents.
#include "logctrl/logctrl.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "notesapi/notesapi.h"
#include "support/raii.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace {

const char kKey[] = "TRANSLOG_RECREATE_LOGCTRL=";
const char kSettingLine[] = "TRANSLOG_Recreate_Logctrl=1\n";
const char kLogControlFile[] = "nlogctrl.lfh";
const size_t kPathSize = 1024;
const size_t kMessageSize = 4096;

// The key compared without regard to ASCII case, with nothing before it.
bool setsKey(std::string_view line) {
    const size_t keyLen = sizeof kKey - 1;
    if (line.size() < keyLen) return false;
    for (size_t i = 0; i < keyLen; i++)
        if (toupper((unsigned char)line[i]) != kKey[i]) return false;
    return true;
}

// The whole file as bytes (NUL bytes included); false on any read error, so
// that a file we could not read completely is never rewritten.
bool readAll(const char *path, std::string *content, bool *opened) {
    UniqueFile file(fopen(path, "r"));
    *opened = static_cast<bool>(file);
    if (!file) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file.get())) > 0) content->append(buf, n);
    return ferror(file.get()) == 0;
}

// Replaces the file's content in place, so it keeps its owner and mode;
// every step is checked and the data is on disk before we say so.
bool writeInPlace(const char *path, const std::string &content) {
    UniqueFd fd(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid()) return false;
    const char *p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = write(fd.get(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= (size_t)n;
    }
    if (fsync(fd.get()) != 0) return false;
    return fd.Close() == 0;
}

}  // namespace

std::string withRecreateLogControl(std::string_view content) {
    std::string out;
    out.reserve(content.size() + sizeof kSettingLine);
    bool found = false;
    size_t start = 0;
    // Whole lines, however long: a later part of a long line is never
    // mistaken for a line of its own.
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        end = end == std::string_view::npos ? content.size() : end + 1;
        std::string_view line = content.substr(start, end - start);
        if (setsKey(line)) {
            out += kSettingLine;
            found = true;
        } else {
            out += line;
        }
        start = end;
    }
    if (!found) {
        // Keep the setting off the end of a last line that has no line end.
        if (!out.empty() && out.back() != '\n') out += '\n';
        out += kSettingLine;
    }
    return out;
}

int setRecreateLogControl(const char *iniPath) {
    std::string content;
    bool opened = false;
    if (!readAll(iniPath, &content, &opened)) {
        printf("Fail to open %s\n", iniPath);
        return 0;
    }
    // Truncating the file is the point of no return; a failure after it is
    // reported, never hidden behind the success line.
    if (!writeInPlace(iniPath, withRecreateLogControl(content))) {
        printf("Fail to edit %s\n", iniPath);
        return 0;
    }
    printf("Update %s with TRANSLOG_Recreate_Logctrl=1\n", iniPath);
    return 1;
}

int removeLogControlFile(const char *dataDirectory) {
    char logDir[kPathSize] = {};
    if (!OSGetEnvironmentString("TRANSLOG_Path", logDir, kPathSize - 1) || logDir[0] == '\0') {
        printf("Fail to get transaction log directory\n");
        return 0;
    }
    // Joined in a string first: a path that does not fit the buffer is
    // refused with ENAMETOOLONG rather than cut to name another file.
    std::string path;
    if (logDir[0] != DirSlash[0]) path = dataDirectory;
    for (const char *part : {(const char *)logDir, kLogControlFile}) {
        if (!path.empty() && path.back() != DirSlash[0]) path += DirSlash;
        path += part;
    }
    char message[kMessageSize] = {};
    if (path.size() >= kPathSize) {
        get_sys_error_message(ENAMETOOLONG, message);
        printf("Fail to delete log control file %s, Reason=%s\n", path.c_str(), message);
        return 0;
    }
    char filePath[kPathSize] = {};
    memcpy(filePath, path.c_str(), path.size() + 1);

    int rc = SysFileDelete(filePath);
    if (rc == 0 || rc == ENOENT) {
        printf("Delete log control file %s\n", filePath);
        return 1;
    }
    get_sys_error_message(rc, message);
    printf("Fail to delete log control file %s, Reason=%s\n", filePath, message);
    return 0;
}
