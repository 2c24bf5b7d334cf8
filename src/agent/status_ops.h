// The status-string operations of the backup agent (restore, recover, log
// style) and the steps the archiving shares with them: the path check, the
// run lock and the style query. Inside, each returns a Result; the exported
// operations turn it into the caller's message buffer with putResult, the
// library's one place that fills one.
#ifndef NSFMEND_AGENT_STATUS_OPS_H
#define NSFMEND_AGENT_STATUS_OPS_H

#include <stddef.h>

#include <string_view>

#include "agent/include/nsfmend/agent.h"
#include "notesapi/notesapi.h"
#include "support/result.h"
#include "support/run_lock.h"
#include "support/sizes.h"

namespace nsfmend {

// The buffer sizes the header promises are the ones the code uses.
static_assert(kMessageSize == NSFMEND_MSG_SIZE, "message buffer size");
static_assert(kPathSize == NSFMEND_PATH_SIZE, "path buffer size");

// The message buffer on return: "QMR_NSF_SUCCESS" for ok, else the
// failure's explanation (its own text, or its code's).
void putResult(const Result &result, char *msg);

// "<what> too long (over <limit> characters): <path>" as a failure
// (ENAMETOOLONG); the limit is the most a path buffer holds.
Result tooLong(const char *what, std::string_view path, size_t limit = kPathSize - 1);
// ok when path and its terminator fit a kPathSize buffer, else "Path too
// long (over 1023 characters): <path>".
Result checkPathFits(const char *path);
// Takes the run lock of the server's data directory; the reason when
// another run holds it or it cannot be taken.
Result lockRun(RunLock *lock);
// Asks the server's logging style; a failure, with the status string for
// logging that is off as its text, when it cannot say.
Result queryLogStyle(WORD *style);

}  // namespace nsfmend

#endif
