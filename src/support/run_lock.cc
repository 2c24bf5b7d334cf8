#include "support/run_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <string>

#include "support/text.h"

const char kRunLockName[] = ".nsfmend.lock";

namespace {

std::string lockPath(const char *dataDir) {
    std::string path = dataDir;
    if (!path.empty() && path.back() != DirSlash[0]) path += DirSlash;
    return path + kRunLockName;
}

}  // namespace

int RunLock::acquire(const char *dataDir) {
    if (dataDir == nullptr || dataDir[0] == '\0') return ENOENT;
    // Read-only is enough for a lock, so a lock file another user created
    // serves every user that can read it. Never through a link or a FIFO.
    fd_.reset(open(lockPath(dataDir).c_str(),
                   O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd_.valid()) return errno > 0 ? errno : -1;
    struct stat st;
    if (fstat(fd_.get(), &st) != 0) return errno > 0 ? errno : -1;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    while (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        fd_.reset();
        return error;
    }
    return 0;
}

void describeRunLockFailure(int error, const char *dataDir, char *text, size_t size) {
    if (error == EWOULDBLOCK) {
        (void)snprintf(text, size, "Another nsfmend run is working on %s; nothing was changed",
                       dataDir);
        return;
    }
    char reason[4096];
    get_sys_error_message(error, reason);
    (void)snprintf(text, size, "Fail to lock %s, Reason=%s", lockPath(dataDir).c_str(), reason);
}
