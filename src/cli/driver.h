// The command-line driver: the run's settings, the operations around main,
// and the two mode steps it chooses between.
#ifndef NSFMEND_CLI_DRIVER_H
#define NSFMEND_CLI_DRIVER_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "support/sizes.h"

void printHelp();
void printRestoreAllDatabasesGuideline();
void getServerAppDir(char *buffer);
void getServerDataDir(char *buffer);
int initNotes(const char *iniPath);
void termNotes();
int testDbOpen(const char *testText);
void prependSysPath(const char *programDir, const char *savedPath);
void resetSysPath(const char *savedPath);

namespace nsfmend {

// Paths and option values hold at most 1023 characters.
constexpr size_t kFieldSize = kPathSize;
// PATH as it was at the start.
constexpr size_t kSearchPathSize = 4096;

// OUTPUT=: how OPT=CHECK and OPT=VERIFY say what they found.
enum class OutputForm { kText, kJson, kNagios };

// Everything one run is told on its command line and finds in its environment.
struct RunSettings {
    char operation[kFieldSize];    // OPT=
    char flag[kFieldSize];         // FLAG=, only compared
    char inputFile[kFieldSize];    // IN=: the backup file
    char restoreDb[kFieldSize];    // OUT=: the live database
    char cutOffTime[kFieldSize];   // DATETIME=, GMT; empty: the latest transaction
    char iniPath[kFieldSize];      // INI=, else next to NOTES_DATA_DIR
    char testText[kFieldSize];     // TEST=
    char programDir[kFieldSize];   // NOTES_DATA_DIR
    char dataDir[kFieldSize];      // as the API reports it
    int newDbiid;
    int newRepid;
    char savedPath[kSearchPathSize];  // PATH at start
    char output[kFieldSize];       // OUTPUT=: text, json or nagios
    char warnAge[kFieldSize];      // WARN=: seconds
    char critAge[kFieldSize];      // CRIT=: seconds
    OutputForm outputForm;         // as OUTPUT= says
    int64_t warnSeconds;           // WARN=, else the default
    int64_t critSeconds;           // CRIT=, else the default
    time_t started;
};

// The mode steps; each returns the exit status (0 or 1).
int runSingleDatabaseMode(const RunSettings &settings);
int runMediaRecoveryMode(const RunSettings &settings);

// OPT=CHECK: what the run the other arguments ask for would meet, one line
// per check and a verdict; 0 when it would proceed, 1 when not. Without IN=
// a media recovery is checked, with IN= a restore (OUT= given) or a
// recovery of the backup file. Nothing is changed.
int runPreflight(const RunSettings &settings);
// The preflight's lines when the runtime did not start; 1.
int reportPreflightWithoutRuntime(const RunSettings &settings);
// Whether starting the runtime would itself change a file (notes.ini asks
// it to rebuild a missing log control file): the preflight then starts none.
bool preflightMustNotStartRuntime(const RunSettings &settings);
// The preflight's lines when it did not start the runtime for that; 2.
int reportPreflightWithoutStart(const RunSettings &settings);

// OPT=VERIFY: whether the archive folder IN= holds what a recovery needs
// (and, with OUT= naming the server's log directory, every extent that
// holds), one line per finding and a verdict; 0 when it would serve a
// recovery, 1 when not. It reads files only: no runtime, nothing changed.
int runArchiveVerify(const RunSettings &settings);

}  // namespace nsfmend

#endif
