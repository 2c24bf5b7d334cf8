// Transaction-log archiving for a backup agent: every extent the server
// offers is copied under a generated name, made durable, and only then
// reported archived; the half-filled capture follows.
#ifndef NSFMEND_AGENT_ARCHIVE_H
#define NSFMEND_AGENT_ARCHIVE_H

#include <stddef.h>

#include "notesapi/notesapi.h"

namespace nsfmend {

// The local time stamp handed back to the caller and the format that made it.
extern const char kTimeStampFormat[];

// destDir + "S" + at least seven digits of logNumber + ".TXN" + suffix into
// name (size bytes). False, with name emptied, when it would not fit.
bool formatArchivedName(char *name, size_t size, const char *destDir, DWORD logNumber,
                        const char *suffix);

// Log directory from TRANSLOG_Path: used as is when absolute, else joined to
// the data directory when the join stays within 1022 characters. False when
// the setting is missing or empty.
bool resolveLogDirectory(char *logDir, size_t size);

}  // namespace nsfmend

// Fills timeStamp (20 bytes) with the local time in kTimeStampFormat and
// timeFormat (18 bytes) with the format text. Either may be null.
void getCurrentTime(char *timeStamp, char *timeFormat);

// spoolNsfArchiveLogs and DoArchiveLogs are declared in nsfmend/agent.h.

#endif
