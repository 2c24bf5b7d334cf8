#include "support/run_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <string>

#include "support/sizes.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

const char kRunLockName[] = ".nsfmend.lock";

int RunLock::acquire(const char *dataDir) {
    if (dataDir == nullptr || dataDir[0] == '\0') return ENOENT;
    // Read-only is enough for a lock, so a lock file another user created
    // serves every user that can read it. Never through a link or a FIFO.
    fd_.reset(open(joinPath(dataDir, kRunLockName).c_str(),
                   O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd_.valid()) return lastError();
    struct stat st;
    if (fstat(fd_.get(), &st) != 0) return lastError();
    if (!S_ISREG(st.st_mode)) return EINVAL;
    while (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        fd_.reset();
        return error;
    }
    return 0;
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
