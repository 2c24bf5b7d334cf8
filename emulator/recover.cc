// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS NSFRecoverDatabases(char *, RESTORE_CALLBACK, DWORD, WORD *, TIMEDATE *) { return EMU_ERR_NOT_LOGGED; }
STATUS NSFRecoverDatabasesWithCallback(char *, RESTORE_CALLBACK, DWORD, WORD *, TIMEDATE *, NOTE_CALLBACK, void *) { return EMU_ERR_NOT_LOGGED; }
}
