// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS NSFTakeDatabaseOffline(char *, DWORD, DWORD) { return EMU_DB_NOT_IN_USE; }
STATUS NSFBringDatabaseOnline(char *, DWORD) { return EMU_DB_NOT_IN_USE; }
}
