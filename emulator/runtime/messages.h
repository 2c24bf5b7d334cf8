// Every status the emulator returns, with its message text. OSLoadString
// serves this table; a code missing here has no text.
#ifndef NOTESEMU_RUNTIME_MESSAGES_H
#define NOTESEMU_RUNTIME_MESSAGES_H

#include "notesapi/notesapi.h"

// X(name, code, text). Codes 5086, 5113 and 5119 are fixed by the platform.
#define NOTESEMU_STATUSES(X)                                                              \
    X(EMU_ERR_NOT_STARTED, 0x0101, "The runtime has not been started")                   \
    X(EMU_ERR_ALREADY_STARTED, 0x0102, "The runtime is already started")                 \
    X(EMU_ERR_INI_MISSING, 0x0103, "Unable to read the configuration file notes.ini")    \
    X(EMU_ERR_BAD_ARGUMENT, 0x0104, "Invalid argument")                                  \
    X(EMU_ERR_NO_MEMORY, 0x0105, "Insufficient memory")                                  \
    X(EMU_ERR_FILE_NOT_FOUND, 0x0106, "File does not exist")                             \
    X(EMU_ERR_FILE_ACCESS, 0x0107, "Unable to access the file")                          \
    X(EMU_ERR_FILE_IO, 0x0108, "File read or write error")                               \
    X(EMU_ERR_NOT_A_DATABASE, 0x0109, "File is not a database")                          \
    X(EMU_ERR_DB_CORRUPT, 0x010A, "Database is corrupt: its header or a note fails its checksum") \
    X(EMU_ERR_BAD_HANDLE, 0x010B, "Invalid database handle")                             \
    X(EMU_ERR_DB_OFFLINE, 0x010C, "Database is offline")                                 \
    X(EMU_ERR_DB_ALREADY_OFFLINE, 0x010D, "Database is already offline")                 \
    X(EMU_ERR_DB_ALREADY_ONLINE, 0x010E, "Database is already online")                   \
    X(EMU_ERR_BAD_TIME, 0x010F, "Unable to interpret time or date")                      \
    X(EMU_ERR_LOG_GAP, 0x0110, "A transaction log extent needed for recovery is missing") \
    X(EMU_ERR_LOG_CORRUPT, 0x0111, "A transaction log record fails its checksum")        \
    X(EMU_ERR_NOT_LOGGED, 0x0112, "Database is not enabled for transaction logging")     \
    X(EMU_ERR_LOG_MISMATCH, 0x0113, "Database belongs to a different transaction log")   \
    X(EMU_ERR_NOT_ARCHIVE_STYLE, 0x0114, "Transaction logging style is not archive")     \
    X(EMU_ERR_ARCHIVE_BUSY, 0x0115, "Log archiving is already in progress")              \
    X(EMU_ERR_ARCHIVE_NOT_BEGUN, 0x0116, "Log archiving has not been started")           \
    X(EMU_ERR_ARCHIVE_UNKNOWN_EXTENT, 0x0117, "Log extent was not handed out for archiving") \
    X(EMU_ERR_LOGCTRL_CORRUPT, 0x0118, "Transaction log control file is damaged")        \
    X(EMU_ERR_RECOVERY_ABORTED, 0x0119, "Recovery was stopped by the note callback")     \
    X(EMU_ERR_TOO_MANY_OPEN, 0x011A, "Too many open databases")                          \
    X(EMU_ERR_NOTE_NOT_FOUND, 0x011B, "Note not found")                                  \
    X(EMU_ERR_ALREADY_EXISTS, 0x011C, "Database already exists")                         \
    X(EMU_ERR_NO_LOG_DIR, 0x011D, "Transaction log directory (TRANSLOG_Path) is not set") \
    X(EMU_ERR_NOT_A_LOG_EXTENT, 0x011E, "Log extent number is not valid for this log")   \
    X(EMU_ERR_CUTOFF_BEFORE_BACKUP, 0x011F,                                               \
      "The recovery time is earlier than the last change in the backup file")             \
    X(EMU_ERR_NAME_TOO_LONG, 0x0120, "File name or path is too long")                     \
    X(EMU_NO_LOG_TO_ARCHIVE, 5086, "No more transaction log extents to archive")      \
    X(EMU_DB_NOT_IN_USE, 5113, "Database is not in use by a running server")          \
    X(EMU_LOGGING_OFF, 5119, "Transaction logging is not enabled on this server")

enum EmuStatus : unsigned short {
#define NOTESEMU_ENUM(name, code, text) name = (code),
    NOTESEMU_STATUSES(NOTESEMU_ENUM)
#undef NOTESEMU_ENUM
};

namespace emu {

// The table's text for a status ("" when it has none); the two flag bits
// of a full status are masked off.
const char *StatusText(STATUS code);

}  // namespace emu

#endif
