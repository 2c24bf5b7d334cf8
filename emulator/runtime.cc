// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS NotesInitExtended(int, char **) { return EMU_ERR_NOT_STARTED; }
void NotesTerm(void) {}
WORD OSGetDataDirectory(char *p) { p[0] = 0; return 0; }
BOOL OSGetEnvironmentString(const char *, char *v, WORD) { v[0] = 0; return FALSE; }
}
