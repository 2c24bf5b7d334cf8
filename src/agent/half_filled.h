// Capture of the log directory's files that have no archived copy yet: the
// extents the server is still filling.
#ifndef NSFMEND_AGENT_HALF_FILLED_H
#define NSFMEND_AGENT_HALF_FILLED_H

namespace nsfmend {

// The capture itself, for a caller that holds the run lock (the archiving
// run); archiveHalfFilledLogs, declared in nsfmend/agent.h, takes the lock
// and calls it.
int captureHalfFilledLogs(const char *logDir, const char *destDir, const char *suffix, char *msg);

}  // namespace nsfmend

#endif
