// Capture of the log directory's files that have no archived copy yet: the
// extents the server is still filling.
#ifndef NSFMEND_AGENT_HALF_FILLED_H
#define NSFMEND_AGENT_HALF_FILLED_H

#include <string>

#include "storage/storage.h"
#include "support/result.h"

namespace nsfmend {

class ArchiveRecordWriter;

// The capture itself, for a caller that holds the run lock (the archiving
// run); archiveHalfFilledLogs, declared in nsfmend/agent.h, takes the lock
// and calls it. Each file goes to dest under stem + its name + suffix.
// Every copy it has (made now or before) goes into the run's record, which
// is written before it returns, whether or not a later file failed. ok, or
// the first failure.
Result captureHalfFilledLogs(const char *logDir, Storage &dest, const std::string &stem,
                             const char *suffix, ArchiveRecordWriter *records);

}  // namespace nsfmend

#endif
