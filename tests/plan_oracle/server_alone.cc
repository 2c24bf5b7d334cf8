// The server alone: a run's calls of the platform API in the run's order,
// with no plan before them and none of the program's own checks, so that a
// test can tell what the server itself would make of a state. It links the
// platform library and the C library only, never the program's code.
//
//   server_alone recover IN [DATETIME]      recover the backup file
//   server_alone restore IN OUT [DATETIME]  recover it, take OUT offline,
//                                           copy over it, bring it online
//   server_alone media [DATETIME]           reset the log control state,
//                                           then recover every logged
//                                           database of the data directory
//
// The runtime starts with $NOTES_DATA_DIR/notes.ini, as nsfmend's does by
// default. Exit 0 when every step succeeded, 1 when one failed (each
// failure is printed), 2 on a usage error, 3 when the runtime did not start.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "notesapi/notesapi.h"

namespace {

// Month/day/year, 24-hour clock, four-digit years, leading zeros: the
// format DATETIME= is documented in.
const INTLFORMAT kFormat = {0x012c, 2, 140, 0, "AM", "PM", "$", ",", ".", "/", ":",
                            "Yesterday", "Today", "Tomorrow"};
const TFMT kTimeFormat = {0, 0, 0, 2};

// Says what failed, as printf would, after "server alone: "; the run's exit 1.
__attribute__((format(printf, 1, 2))) int failed(const char *format, ...) {
    va_list args;
    va_start(args, format);
    printf("server alone: ");
    vprintf(format, args);
    va_end(args);
    printf("\n");
    return 1;
}

bool fails(const char *what, STATUS status) {
    return status != NOERROR && failed("%s failed, status %u", what, (unsigned)status);
}

// The cut-off read as GMT+0: parsed, then its calendar reading re-stamped
// in zone 0 without daylight saving.
bool readCutOff(const char *text, TIMEDATE *when) {
    char *cursor = const_cast<char *>(text);
    if (fails("reading the cut-off",
              ConvertTextToTIMEDATE(&kFormat, &kTimeFormat, &cursor, (WORD)strlen(text), when)))
        return false;
    TIME broken;
    memset(&broken, 0, sizeof broken);
    broken.GM = *when;
    TimeGMToLocal(&broken);
    broken.zone = 0;
    broken.dst = 0;
    TimeLocalToGM(&broken);
    *when = broken.GM;
    return true;
}

bool recover(const std::string &path, const char *cutOff) {
    TIMEDATE when;
    memset(&when, 0, sizeof when);
    const bool toTime = cutOff != nullptr && cutOff[0] != '\0';
    if (toTime && !readCutOff(cutOff, &when)) return false;
    WORD index = 0;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const STATUS status = NSFRecoverDatabases(name.data(), nullptr, toTime ? RECOVER_TO_TIME : 0,
                                              &index, toTime ? &when : nullptr);
    return !fails(("recovering " + path).c_str(), status);
}

// The copy as a plain program makes it: the whole file to a new one
// beside the destination, which then takes the destination's name and,
// when there was one, its mode.
bool copyOver(const std::string &from, const std::string &to) {
    FILE *in = fopen(from.c_str(), "rb");
    if (in == nullptr) return !failed("reading %s failed, errno %d", from.c_str(), errno);
    const std::string temp = to + ".server-alone";
    FILE *out = fopen(temp.c_str(), "wb");
    bool ok = out != nullptr;
    char buffer[65536];
    size_t got = 0;
    while (ok && (got = fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = fwrite(buffer, 1, got, out) == got;
    ok = ok && !ferror(in);
    fclose(in);
    if (out != nullptr) ok = fclose(out) == 0 && ok;
    struct stat st;
    if (ok && stat(to.c_str(), &st) == 0) ok = chmod(temp.c_str(), st.st_mode & 07777) == 0;
    ok = ok && rename(temp.c_str(), to.c_str()) == 0;
    if (!ok && failed("copying over %s failed, errno %d", to.c_str(), errno)) unlink(temp.c_str());
    return ok;
}

int restore(const char *in, const char *out, const char *cutOff, const std::string &dataDir) {
    if (!recover(in, cutOff)) return 1;
    std::vector<char> name(out, out + strlen(out) + 1);
    const STATUS offline = NSFTakeDatabaseOffline(name.data(), 0, 1);
    if (offline != STATUS_DB_NOT_IN_USE && fails("taking the database offline", offline)) return 1;
    const std::string live = out[0] == '/' ? out : dataDir + "/" + out;
    if (!copyOver(in, live)) {
        if (offline == NOERROR) NSFBringDatabaseOnline(name.data(), 0);
        return 1;
    }
    if (offline == NOERROR && fails("bringing the database online", NSFBringDatabaseOnline(name.data(), 0)))
        return 1;
    return 0;
}

bool endsWith(const std::string &name, const char *suffix) {
    const size_t n = strlen(suffix);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

// Every .nsf and .box under dir, links followed, log.nsf at the top left out.
bool listDatabases(const std::string &dir, bool top, std::vector<std::string> *found) {
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return false;
    std::vector<std::string> names;
    while (const dirent *e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (name == "." || name == ".." || (top && name == "log.nsf")) continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) return false;
        if (S_ISDIR(st.st_mode)) {
            if (!listDatabases(path, false, found)) return false;
        } else if (endsWith(name, ".nsf") || endsWith(name, ".box")) {
            found->push_back(path);
        }
    }
    return true;
}

// notes.ini rewritten in place with TRANSLOG_Recreate_Logctrl=1.
bool resetIni(const std::string &ini) {
    FILE *in = fopen(ini.c_str(), "r");
    if (in == nullptr) return false;
    std::string text;
    bool found = false;
    char line[4096];
    while (fgets(line, sizeof line, in) != nullptr) {
        if (strncasecmp(line, "TRANSLOG_Recreate_Logctrl=", 26) == 0) {
            text += "TRANSLOG_Recreate_Logctrl=1\n";
            found = true;
        } else {
            text += line;
        }
    }
    fclose(in);
    if (!found) text += "TRANSLOG_Recreate_Logctrl=1\n";
    FILE *out = fopen(ini.c_str(), "w");
    if (out == nullptr) return false;
    const bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
    return fclose(out) == 0 && written;
}

int media(const std::string &ini, const std::string &dataDir, const char *cutOff) {
    if (!resetIni(ini)) return failed("rewriting %s failed", ini.c_str());
    char logDir[1024] = {};
    if (!OSGetEnvironmentString("TRANSLOG_Path", logDir, sizeof logDir - 1) || logDir[0] == '\0')
        return failed("no TRANSLOG_Path");
    const std::string control = std::string(logDir[0] == '/' ? "" : dataDir + "/") + logDir + "/nlogctrl.lfh";
    if (remove(control.c_str()) != 0 && errno != ENOENT)
        return failed("deleting %s failed, errno %d", control.c_str(), errno);
    std::vector<std::string> databases;
    if (!listDatabases(dataDir, true, &databases)) return failed("listing %s failed", dataDir.c_str());
    int recovered = 0, failed = 0;
    for (const std::string &path : databases) {
        DBHANDLE db = 0;
        if (fails(("opening " + path).c_str(), NSFDbOpen(path.c_str(), &db))) {
            ++failed;
            continue;
        }
        BOOL logged = FALSE;
        UNID logId, instanceId;
        DWORD extent = 0;
        const STATUS info = NSFDbGetLogInfo(db, 0, &logged, &logId, &instanceId, &extent);
        const STATUS closed = NSFDbClose(db);
        if (fails("reading log information", info) || fails("closing", closed)) {
            ++failed;
            continue;
        }
        if (!logged) continue;
        if (recover(path, cutOff)) ++recovered;
        else ++failed;
    }
    printf("server alone: %d recovered, %d failed\n", recovered, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    const char *env = getenv("NOTES_DATA_DIR");
    const std::string programDir = env != nullptr ? env : "";
    const std::string ini = programDir.empty() ? "notes.ini" : programDir + "/notes.ini";
    std::string first = programDir, second = "=" + ini;
    char *start[] = {&first[0], &second[0]};
    if (NotesInitExtended(2, start) != NOERROR) return 3;
    char dataDir[1024] = {};
    OSGetDataDirectory(dataDir);
    int status = 2;
    if (mode == "recover" && argc >= 3)
        status = recover(argv[2], argc >= 4 ? argv[3] : nullptr) ? 0 : 1;
    else if (mode == "restore" && argc >= 4)
        status = restore(argv[2], argv[3], argc >= 5 ? argv[4] : nullptr, dataDir);
    else if (mode == "media")
        status = media(ini, dataDir, argc >= 3 ? argv[2] : nullptr);
    NotesTerm();
    return status;
}
