// The status-string operations of the backup agent (restore, recover, log
// style) and the steps the archiving shares with them: the run lock, the
// path check and the style query, each leaving its failure in the message
// buffer.
#ifndef NSFMEND_AGENT_STATUS_OPS_H
#define NSFMEND_AGENT_STATUS_OPS_H

#include "agent/include/nsfmend/agent.h"
#include "notesapi/notesapi.h"
#include "support/run_lock.h"
#include "support/sizes.h"

namespace nsfmend {

// The buffer sizes the header promises are the ones the code uses.
static_assert(kMessageSize == NSFMEND_MSG_SIZE, "message buffer size");
static_assert(kPathSize == NSFMEND_PATH_SIZE, "path buffer size");

// True when path and its terminator fit a kPathSize buffer.
bool fitsPathBuffer(const char *path);
// True, with "Path too long (over 1023 characters): <path>" in the message
// buffer, when path does not fit a kPathSize buffer.
bool refuseLongPath(const char *path, char *msg);
// Takes the run lock of the server's data directory; false, with the reason
// in the message buffer, when another run holds it or it cannot be taken.
bool lockRun(RunLock *lock, char *msg);
// Asks the server's logging style; false, with the status string for logging
// that is off or the API text in the message buffer, when it cannot say.
bool queryLogStyle(WORD *style, char *msg);

}  // namespace nsfmend

#endif
