#include "support/run_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
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

// The kernel's table of the locks held now, one line a lock:
// "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line has
// "->" after its number.
const char kLocksTable[] = "/proc/locks";

// Whether a line of the table is a granted flock on the file (device, inode).
bool holdsFlock(const char *line, dev_t device, ino_t inode) {
    char type[16] = {}, access[16] = {};
    unsigned devMajor = 0, devMinor = 0;
    unsigned long long number = 0;
    int pid = 0;
    // "%*d:" then the type: a waiter ("->") does not match it.
    if (sscanf(line, "%*d: %15s %*s %15s %d %x:%x:%llu", type, access, &pid, &devMajor, &devMinor,
               &number) != 6)
        return false;
    return strcmp(type, "FLOCK") == 0 && devMajor == major(device) && devMinor == minor(device) &&
           number == (unsigned long long)inode;
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
    if (error != 0) return error;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return lastError();
    // Read from the kernel's table of locks, never by taking one: even a
    // shared lock held for an instant would refuse a run that starts then.
    UniqueFile locks(fopen(kLocksTable, "re"));
    if (!locks) return 0;  // no table to read: nothing seen holding it
    char line[256];
    while (fgets(line, sizeof line, locks.get()) != nullptr) {
        if (holdsFlock(line, st.st_dev, st.st_ino)) return EWOULDBLOCK;
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
