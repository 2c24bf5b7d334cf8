// nsfmend: rolls restored database files forward through the archived
// transaction logs. main reads key=value arguments, confirms a full media
// recovery, starts the API runtime with the resolved notes.ini, runs one
// mode, stops the runtime and returns 0 or 1.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <string_view>

#include "cli/driver.h"
#include "cli/report.h"
#include "notesapi/notesapi.h"
#include "support/path.h"
#include "support/sizes.h"
#include "support/text.h"

using nsfmend::kFieldSize;
using nsfmend::kMessageSize;

namespace {

void line(const char *text) { printf("%s\n", text); }

// Copies an environment value, cut to the buffer; empty when unset.
void copyEnv(const char *name, char *buffer, size_t size) {
    const char *value = getenv(name);
    (void)snprintf(buffer, size, "%s", value != nullptr ? value : "");
}

}  // namespace

void printHelp() {
    printf("\nUsage: nsfmend \"%s<option>\" \"%s<recover option>\" \"%s[input file]\" \"%s[restore db]\" "
           "\"%s[datetime]\"\n",
           "OPT=", "FLAG=", "IN=", "OUT=", "DATETIME=");
    printf("        %s - Recover a backup file. (Input file REQUIRED)\n", "RECOVER");
    printf("        %s - Recover a backup file and get note info. (Input file REQUIRED)\n", "NOTE");
    printf("        %s - Restore a database. (Input file & restore database REQUIRED)\n", "RESTORE");
    printf("\nrecover option: %s - assign new database instance ID to database recovered.\n", "NEW_DBIID");
    printf("                %s - assign new replica ID to database recovered.\n", "NEW_REPID");
    line("\ninput file: - Path to a backup file. (If REQUIRED)");
    line("\nrestore db: - Path to the database to be restored. (If REQUIRED)\n");
    line("\ndate time: - The date time you want to recover the database to in GMT+0. Set them according "
         "to the date format. eg. \"11/15/2013 13:00\". (If REQUIRED)\n");
}

void printRestoreAllDatabasesGuideline() {
    line("Please make sure that you have done the following:");
    line("1. Reinstall the server on this computer in the same directory");
    line("2. Restore \"notes.ini\" to the server installation directory");
    printf("   (e.g. %s)\n", "/local/notesdata");
    line("3. Restore the server data directory back to the directory defined");
    printf("   in \"notes.ini\" (e.g. %s)\n", "/local/notesdata");
    line("4. Restore all archived transaction logs to the directory defined");
    printf("   in \"notes.ini\" (e.g. %s)\n", "/local/notesdata/logdir");
    printf("\n");
    printf("Continue ? (Y) or (N) ");
}

void getServerAppDir(char *buffer) { copyEnv("NOTES_DATA_DIR", buffer, kFieldSize); }

void getServerDataDir(char *buffer) { OSGetDataDirectory(buffer); }

int initNotes(const char *iniPath) {
    char programDir[kFieldSize] = {};
    copyEnv("NOTES_DATA_DIR", programDir, sizeof programDir);
    char *argv[3] = {programDir, nullptr, nullptr};
    STATUS status;
    if (iniPath[0] == '\0') {
        line("Initialize...");
        status = NotesInitExtended(1, argv);
    } else {
        char iniArg[kFieldSize] = {};
        // "=" and the path must fit whole: a cut path would start another server.
        if (strlen(iniPath) + 1 >= sizeof iniArg) {
            printf("The notes.ini path is too long (at most %u characters): %s\n",
                   (unsigned)(sizeof iniArg - 2), iniPath);
            return 0;
        }
        (void)snprintf(iniArg, sizeof iniArg, "=%s", iniPath);
        argv[1] = iniArg;
        printf("Initialize with file: %s...\n", iniPath);
        status = NotesInitExtended(2, argv);
    }
    if (status != NOERROR) {
        printf("InitNotes failed. Error Code = %lu\n", (unsigned long)status);
        return 0;
    }
    line("Initialization completed successfully");
    return 1;
}

void termNotes() {
    line("\n\nTerminate...");
    NotesTerm();
    line("Termination completed successfully");
}

int testDbOpen(const char *testText) {
    DBHANDLE db = 0;
    STATUS status = NSFDbOpen("", &db);
    if (status == NOERROR) {
        line(testText);
        NSFDbClose(db);
        return 1;
    }
    char message[kMessageSize] = {};
    get_api_error_message(status, message);
    printf("Test fails, error=%s\n", message);
    return 0;
}

// The platform finds libnotes.so through the loader; nothing to change here.
void prependSysPath(const char *, const char *) {}
void resetSysPath(const char *) {}

namespace nsfmend {
namespace {

struct Option {
    const char *key;  // nullptr: the argument matches no key
    char *value;
};

// The keys in the order they are tested; the first that matches takes the
// argument.
Option matchOption(RunSettings &s, const char *arg) {
    const Option table[] = {{"OPT=", s.operation},       {"FLAG=", s.flag},
                            {"IN=", s.inputFile},        {"OUT=", s.restoreDb},
                            {"DATETIME=", s.cutOffTime}, {"INI=", s.iniPath},
                            {"TEST=", s.testText},       {"OUTPUT=", s.output},
                            {"WARN=", s.warnAge},        {"CRIT=", s.critAge}};
    for (const Option &option : table)
        if (isStartsWith(option.key, arg)) return option;
    return Option{nullptr, nullptr};
}

// The notes.ini path of the run: INI=, else notes.ini next to
// NOTES_DATA_DIR (in the working directory when that is unset). 1, or 0
// after the line that says why there is none.
int resolveIniPath(RunSettings *s) {
    // A data directory cut to fit would point at another server: refuse it.
    const char *appDir = getenv("NOTES_DATA_DIR");
    if (appDir != nullptr && strlen(appDir) >= kFieldSize) {
        printf("NOTES_DATA_DIR is too long (%u characters, at most %u)\n", (unsigned)strlen(appDir),
               (unsigned)(kFieldSize - 1));
        return 0;
    }
    getServerAppDir(s->programDir);
    if (s->iniPath[0] != '\0') return 1;
    const std::string ini = joinPath(s->programDir, "notes.ini");
    if (!fitsBuffer(ini, kFieldSize)) {
        printf("The notes.ini path is too long (at most %u characters): %s\n",
               (unsigned)(kFieldSize - 2), ini.c_str());
        return 0;
    }
    (void)snprintf(s->iniPath, kFieldSize, "%s", ini.c_str());
    return 1;
}

// Reads the KEY=value arguments into s. True when they ask for a run;
// false when the run ends here, with the exit status in *exitStatus (the
// usage text: 0; a value too long: 1) and what was wrong in *why.
bool parseArguments(int argc, char **argv, RunSettings *s, int *exitStatus, std::string *why) {
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        const Option option = matchOption(*s, arg);
        if (option.key == nullptr) {
            printHelp();
            *exitStatus = 0;
            *why = std::string(arg) + " is no KEY=value argument nsfmend knows";
            return false;
        }
        // A value cut or dropped would silently change what the run does (an
        // empty OUT= turns a restore into a full media recovery): refuse it.
        if (strlen(arg) - strlen(option.key) >= kFieldSize) {
            printf("The value of %s is too long (at most %u characters)\n", option.key,
                   (unsigned)(kFieldSize - 1));
            *exitStatus = 1;
            *why = std::string("the value of ") + option.key + " is too long";
            return false;
        }
        substring(option.key, arg, option.value, kFieldSize);
        if (option.value == s->flag) {
            std::string_view flag(s->flag);
            if (flag == "NEW_DBIID")
                s->newDbiid = 1;
            else if (flag == "NEW_REPID")
                s->newRepid = 1;
        } else if (option.value == s->cutOffTime && s->cutOffTime[0] == ' ') {
            s->cutOffTime[0] = '\0';
        }
    }
    return true;
}

enum class Mode { kTest, kVerify, kPreflight, kSingleDatabase, kMediaRecovery };

// TEST= wins over every operation. The preflight (OPT=CHECK) and the
// archive check (OPT=VERIFY) change nothing; otherwise IN= and OUT=
// together ask for one database, and anything less for a media recovery.
Mode chooseMode(const RunSettings &s) {
    if (s.testText[0] != '\0') return Mode::kTest;
    const std::string_view op = s.operation;
    if (op == "VERIFY") return Mode::kVerify;
    if (op == "CHECK") return Mode::kPreflight;
    if (s.inputFile[0] != '\0' && s.restoreDb[0] != '\0') return Mode::kSingleDatabase;
    return Mode::kMediaRecovery;
}

// The checklist of a full media recovery; true when it is answered yes.
bool confirmed() {
    printRestoreAllDatabasesGuideline();
    // The prompt has no line end: it must be visible before we block.
    (void)fflush(stdout);
    int answer = getchar();
    printf("\n");
    return answer == 'Y' || answer == 'y';
}

int runMode(Mode mode, const RunSettings &s) {
    switch (mode) {
        case Mode::kTest: return testDbOpen(s.testText) == 0 ? 1 : 0;
        case Mode::kPreflight: return runPreflight(s);
        case Mode::kSingleDatabase: return runSingleDatabaseMode(s);
        case Mode::kMediaRecovery: return runMediaRecoveryMode(s);
        case Mode::kVerify: break;  // needs no runtime: run before it starts
    }
    return runArchiveVerify(s);
}

// Starts the runtime, runs the mode, stops the runtime.
int withRuntime(Mode mode, RunSettings *s) {
    prependSysPath(s->programDir, s->savedPath);
    if (!initNotes(s->iniPath)) {
        resetSysPath(s->savedPath);
        return mode == Mode::kPreflight ? reportPreflightWithoutRuntime(*s) : 1;
    }
    getServerDataDir(s->dataDir);
    const int result = runMode(mode, *s);
    termNotes();
    resetSysPath(s->savedPath);
    return result;
}

int run(int argc, char **argv) {
    static RunSettings s;  // zero-filled: every field starts empty
    memset(&s, 0, sizeof s);
    copyEnv("PATH", s.savedPath, sizeof s.savedPath);
    s.started = time(nullptr);

    // The one argument that is not KEY=value, and only on its own: anywhere
    // else it is a dash option like any other and gets the usage text.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        printf("nsfmend %s\n", NSFMEND_VERSION);
        return 0;
    }

    // A form for programs owns standard output from the first line on.
    s.outputForm = outputFormOf(argc, argv);
    const bool forPrograms = s.outputForm != OutputForm::kText;
    if (forPrograms) divertStandardOutput(&s);

    line("Media Recovery Utility for NSF servers 8.0 or above\n");
    if (argc <= 0) {
        printHelp();
        return 0;
    }
    int exitStatus = 0;
    std::string why;
    if (!parseArguments(argc, argv, &s, &exitStatus, &why))
        return forPrograms ? reportNotChecked(s, "arguments", why) : exitStatus;
    why = readOutputSettings(&s);
    if (!why.empty()) {
        if (forPrograms) return reportNotChecked(s, "arguments", why);
        line(why.c_str());
        return 1;
    }

    const Mode mode = chooseMode(s);
    if (forPrograms && mode != Mode::kVerify && mode != Mode::kPreflight)
        return reportNotChecked(s, "arguments",
                                std::string("OUTPUT=") + s.output + " is for OPT=CHECK and OPT=VERIFY");
    // The archive check reads files only: it needs neither the checklist
    // nor the runtime. The preflight confirms nothing, so it has no
    // checklist either.
    if (mode == Mode::kVerify) return runArchiveVerify(s);
    if (mode == Mode::kMediaRecovery && !confirmed()) return 0;
    if (!resolveIniPath(&s)) return 1;
    // A check changes nothing, and starting the runtime would.
    if (mode == Mode::kPreflight && preflightMustNotStartRuntime(s))
        return reportPreflightWithoutStart(s);
    return withRuntime(mode, &s);
}

// A log that could not be written is a run that cannot be trusted: the
// caller learns of it through the exit status.
int finishOutput(int result) {
    if (outputDiverted()) return finishDivertedOutput(result);
    if (fflush(stdout) != 0 || ferror(stdout) != 0) {
        int error = errno;
        char reason[kMessageSize] = {};
        get_sys_error_message(error > 0 ? error : EIO, reason);
        (void)fprintf(stderr, "nsfmend: cannot write standard output: %s\n", reason);
        return 1;
    }
    return result;
}

}  // namespace
}  // namespace nsfmend

int main(int argc, char **argv) {
    // Each line goes out as it is written, so a log being followed or cut
    // short by a crash shows how far the run got, even through a pipe.
    (void)setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader that goes away must not kill the run halfway through a
    // restore; the failed write is reported through the exit status instead.
    (void)signal(SIGPIPE, SIG_IGN);
    return nsfmend::finishOutput(nsfmend::run(argc, argv));
}
