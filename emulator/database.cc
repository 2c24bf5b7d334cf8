// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS NSFDbOpen(const char *, DBHANDLE *) { return EMU_ERR_FILE_NOT_FOUND; }
STATUS NSFDbClose(DBHANDLE) { return EMU_ERR_BAD_HANDLE; }
STATUS NSFDbGetLogInfo(DBHANDLE, DWORD, BOOL *, UNID *, UNID *, DWORD *) { return EMU_ERR_BAD_HANDLE; }
}
