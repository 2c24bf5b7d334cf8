#include "support/run_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/sizes.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

const char kRunLockName[] = ".nsfmend.lock";

namespace {

// Opens the lock file of dataDir (created when createFlag is O_CREAT).
// Read-only is enough for a lock, so a lock file another user created
// serves every user that can read it. Never through a link or a FIFO.
int openLockFile(const char *dataDir, int createFlag, UniqueFd *fd) {
    if (dataDir == nullptr || dataDir[0] == '\0') return ENOENT;
    fd->reset(open(joinPath(dataDir, kRunLockName).c_str(),
                   O_RDONLY | createFlag | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd->valid()) return lastError();
    struct stat st;
    if (fstat(fd->get(), &st) != 0) return lastError();
    // A folder: what the creating open of a run meets first.
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return S_ISREG(st.st_mode) ? 0 : EINVAL;
}

// flock without waiting: 0, or EWOULDBLOCK while another holds it.
int tryLock(int fd, int operation) {
    while (flock(fd, operation | LOCK_NB) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace

int RunLock::acquire(const char *dataDir) {
    int error = openLockFile(dataDir, O_CREAT, &fd_);
    if (error == 0) error = tryLock(fd_.get(), LOCK_EX);
    if (error != 0) fd_.reset();
    return error;
}

int probeRunLock(const char *dataDir) {
    UniqueFd fd;
    int error = openLockFile(dataDir, 0, &fd);
    if (error == ENOENT && dataDir != nullptr && dataDir[0] != '\0') {
        // A run makes the lock file where there is none yet.
        return accessAllowed(dataDir, W_OK | X_OK);
    }
    // Closing the descriptor lets go of the shared lock.
    return error != 0 ? error : tryLock(fd.get(), LOCK_SH);
}

bool RunLock::acquireOrExplain(const char *dataDir, char *why) {
    int error = acquire(dataDir);
    if (error == 0) return true;
    describeRunLockFailure(error, dataDir, why, kMessageSize);
    return false;
}

void describeRunLockFailure(int error, const char *dataDir, char *text, size_t size) {
    if (error == EWOULDBLOCK) {
        (void)snprintf(text, size, "Another nsfmend run is working on %s; nothing was changed",
                       dataDir);
        return;
    }
    (void)snprintf(text, size, "Fail to lock %s, Reason=%s", joinPath(dataDir, kRunLockName).c_str(),
                   systemText(error).c_str());
}

}  // namespace nsfmend
