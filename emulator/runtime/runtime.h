// The runtime: whether it is started, and the notes.ini it was started
// with (or that notesemu loaded without starting it).
#ifndef NOTESEMU_RUNTIME_RUNTIME_H
#define NOTESEMU_RUNTIME_RUNTIME_H

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"

namespace emu {

bool Started();

// The loaded notes.ini's settings (names compared without regard to ASCII
// case; the first line wins).
bool GetSetting(std::string_view name, std::string *value);
std::string Setting(std::string_view name);  // "" when absent
const std::string &DataDir();  // Directory=, else the folder of notes.ini
const std::string &IniPath();

// Loads a notes.ini without starting the runtime (for notesemu). 0 or a status.
STATUS LoadIni(const std::string &iniPath);

// NotesInitExtended's arguments: argv[0] the program directory, or with
// argc 2 argv[1] "=" and the path of notes.ini. Reads the file and marks the
// runtime started; the server model's part is the caller's (server/lifecycle.cc).
STATUS StartRuntime(int argc, char **argv);
// Forgets the file and its settings; the runtime is stopped.
void StopRuntime();

// What every exported call of a started runtime checks first, in this
// order: a fault injected for it by name (runtime/fault.h), then that the
// runtime is started. The status to return, or NOERROR to go on.
STATUS CheckCall(const char *call);

}  // namespace emu

#endif
