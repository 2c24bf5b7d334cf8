// Transaction-log archiving for a backup agent: every extent the server
// offers is copied under a generated name, made durable, and only then
// reported archived; the half-filled capture follows.
#ifndef NSFMEND_AGENT_ARCHIVE_H
#define NSFMEND_AGENT_ARCHIVE_H

namespace nsfmend {

// The local time stamp handed back to the caller and the format that made it.
extern const char kTimeStampFormat[];

}  // namespace nsfmend

// Fills timeStamp (20 bytes) with the local time in kTimeStampFormat and
// timeFormat (18 bytes) with the format text. Either may be null.
void getCurrentTime(char *timeStamp, char *timeFormat);

// spoolNsfArchiveLogs and DoArchiveLogs are declared in nsfmend/agent.h.

#endif
