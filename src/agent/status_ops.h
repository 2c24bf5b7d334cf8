// The status-string operations of the backup agent (restore, recover, log
// style) and the message-buffer helpers the archiving shares with them.
#ifndef NSFMEND_AGENT_STATUS_OPS_H
#define NSFMEND_AGENT_STATUS_OPS_H

#include <stddef.h>

#include "agent/include/nsfmend/agent.h"
#include "notesapi/notesapi.h"
#include "support/run_lock.h"

// The caller's message buffer holds at least this much.
constexpr size_t kMessageSize = NSFMEND_MSG_SIZE;
// Every path and archived name lives in a buffer of this size.
constexpr size_t kPathSize = NSFMEND_PATH_SIZE;

// Puts text at the start of the message buffer, NUL included.
void setMessage(char *msg, const char *text);
// printf into the message buffer, bounded by its contract size.
void formatMessage(char *msg, const char *format, ...) __attribute__((format(printf, 2, 3)));
// True when path and its terminator fit a kPathSize buffer.
bool fitsPathBuffer(const char *path);
// Takes the run lock of the server's data directory; false, with the reason
// in the message buffer, when another run holds it or it cannot be taken.
bool lockRun(RunLock *lock, char *msg);

#endif
