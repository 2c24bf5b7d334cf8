// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS NSFGetTransLogStyle(WORD *) { return EMU_LOGGING_OFF; }
STATUS NSFBeginArchivingLogs(void) { return EMU_ERR_NOT_ARCHIVE_STYLE; }
STATUS NSFEndArchivingLogs(void) { return EMU_ERR_ARCHIVE_NOT_BEGUN; }
STATUS NSFGetFirstLogToArchive(UNID *, DWORD *, char *) { return EMU_NO_LOG_TO_ARCHIVE; }
STATUS NSFGetNextLogToArchive(UNID *, DWORD *, char *) { return EMU_NO_LOG_TO_ARCHIVE; }
STATUS NSFDoneArchivingLog(UNID *, DWORD *) { return EMU_ERR_ARCHIVE_UNKNOWN_EXTENT; }
}
