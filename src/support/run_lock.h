// One run at a time per data directory. Media recovery, a restore and the
// log archiving all change the server's files; two of them at once could
// interleave a notes.ini rewrite, or clean up each other's temporary files.
//
// The lock is an advisory lock on a hidden file in the data directory, not
// on the directory itself: the platform library locks the directory while
// it writes, and a run holding that lock would wait for itself.
#ifndef NSFMEND_SUPPORT_RUN_LOCK_H
#define NSFMEND_SUPPORT_RUN_LOCK_H

#include <string>

#include "support/raii.h"
#include "support/result.h"

namespace nsfmend {

// The lock file's name: hidden, and no database suffix.
extern const char kRunLockName[];

class RunLock {
public:
    // Takes the lock of dataDir without waiting. 0: held until destruction.
    // EWOULDBLOCK: another run holds it. Anything else: the errno of
    // creating, opening or locking the lock file.
    int acquire(const char *dataDir);
    // acquire, with the line of describeRunLockFailure as the failure's text.
    Result take(const char *dataDir);

private:
    UniqueFd fd_;
};

// Whether a run holds dataDir's lock, asked without changing anything: no
// lock file is created and no lock taken, not even for an instant (the
// kernel's table of locks is read), so the question can never refuse a run
// that starts while it is asked. 0: a run would get the lock (no lock file
// yet counts when the folder lets a run make one).
// EWOULDBLOCK: another run holds it. Anything else: the errno acquire
// would meet.
int probeRunLock(const char *dataDir);

// The one line that tells why a run did not start, for the result of
// acquire: NSFMEND_RUN_LOCK_BUSY with the data directory when another run
// holds it, else NSFMEND_RUN_LOCK_FAILED with the lock file and the
// system's text.
#define NSFMEND_RUN_LOCK_BUSY "Another nsfmend run is working on %s; nothing was changed"
#define NSFMEND_RUN_LOCK_FAILED "Fail to lock %s, Reason=%s"
std::string describeRunLockFailure(int error, const char *dataDir);

}  // namespace nsfmend

#endif
