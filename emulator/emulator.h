// Internals shared by the emulated platform library and its tool. Nothing
// here is part of the exported C interface (that is notesapi.h).
#ifndef NOTESEMU_EMULATOR_H
#define NOTESEMU_EMULATOR_H

#include <stdint.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "notesapi/notesapi.h"
#include "runtime/messages.h"

namespace emu {

// --- runtime.cc: the started runtime and its notes.ini -----------------------
bool Started();
// Value of a notes.ini setting (names compared without regard to ASCII case).
bool GetSetting(std::string_view name, std::string *value);
std::string Setting(std::string_view name);  // "" when absent
const std::string &DataDir();  // Directory=, else the folder of notes.ini
const std::string &IniPath();
// Loads a notes.ini without starting the runtime (for notesemu). 0 or a status.
STATUS LoadIni(const std::string &iniPath);
// The NAME=VALUE lines of a notes.ini text, in file order (first one wins).
void ParseIniText(std::string_view text, std::vector<std::pair<std::string, std::string>> *out);

// --- fault.cc: NOTESEMU_FAIL="Call=status,Call#n=status,..." ------------------
// True (and *status set) when the environment asks this call, or its n-th
// call in this process, to fail.
bool InjectedFault(const char *call, STATUS *status);

// --- hooks.cc: test hooks, silent unless the tests' variables are set -------
// Appends "CALL<TAB>FIELD..." to the file $NOTESEMU_CALL_LOG names.
bool CallLogOn();
void LogCall(const char *call, std::initializer_list<std::string> fields);
// Bytes outside printable ASCII, and the backslash, as \xHH: an LMBCS path
// shows exactly as it was passed.
std::string EscapeBytes(std::string_view bytes);
// One line to the file $NOTESEMU_HANDLE_REPORT names.
void ReportOpenHandle(unsigned handle, const std::string &path);

// --- timedate.cc: the emulator's TIMEDATE layout -----------------------------
// A TIMEDATE holds a moment as hundredths of a second since
// 1970-01-01T00:00:00Z, plus the zone and daylight-saving flag it was read in
// (see docs/emulator-runtime.md for the bit layout).
TIMEDATE MakeTimeDate(int64_t hundredthsSinceEpoch, int zoneMinutesEast, bool dst);
int64_t TimeDateHundredths(const TIMEDATE &td);
int TimeDateZoneMinutes(const TIMEDATE &td);  // standard offset, minutes east
bool TimeDateDst(const TIMEDATE &td);
// ISO 8601 UTC ("2013-11-15T12:59:00Z") to and from hundredths since the epoch.
bool ParseIsoUtc(std::string_view text, int64_t *hundredths);
std::string FormatIsoUtc(int64_t hundredths);
int64_t NowHundredths();

// --- messages.cc -------------------------------------------------------------
// The message table's text for a status ("" when it has none).
const char *StatusText(STATUS code);

// --- lmbcs.cc ----------------------------------------------------------------
std::string LmbcsToNative(std::string_view lmbcs);
std::string NativeToLmbcs(std::string_view native);

// --- server.cc: the server model's part of the runtime's life ----------------
// Called by NotesInitExtended once notes.ini is read; a non-zero status fails
// the start. Rebuilds the log control file when asked to.
STATUS OnRuntimeStart();
void OnRuntimeStop();

}  // namespace emu

#endif
