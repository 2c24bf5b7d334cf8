// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS NotesInitExtended(int, char **) { return EMU_ERR_NOT_STARTED; }
void NotesTerm(void) {}
WORD OSGetDataDirectory(char *p) { p[0] = 0; return 0; }
BOOL OSGetEnvironmentString(const char *, char *v, WORD) { v[0] = 0; return FALSE; }
}

namespace emu {
bool Started() { return false; }
bool GetSetting(std::string_view, std::string *) { return false; }
std::string Setting(std::string_view) { return std::string(); }
const std::string &DataDir() { static std::string d; return d; }
const std::string &IniPath() { static std::string p; return p; }
STATUS LoadIni(const std::string &) { return EMU_ERR_INI_MISSING; }
}  // namespace emu
