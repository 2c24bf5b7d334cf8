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

#include "support/path.h"
#include "support/sizes.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {

const char kRunLockName[] = ".nsfmend.lock";

namespace {

const int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Makes the lock file when there is none. It stands for the data
// directory: readable by no one who may not read that (whatever the
// umask), and the directory's owner and group where we may give them, so
// the server's own user can lock it after a root run made it.
int createLockFile(const std::string &path, const char *dataDir, UniqueFd *fd) {
    struct stat folder;
    if (stat(dataDir, &folder) != 0) return lastError();
    fd->reset(open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600 | (folder.st_mode & 0044)));
    if (fd->valid()) {
        if (fchown(fd->get(), folder.st_uid, folder.st_gid) != 0) {
            // Not allowed: the file stays this user's, as any it creates.
        }
        return 0;
    }
    if (errno != EEXIST) return lastError();
    fd->reset(open(path.c_str(), kOpenFlags));
    return fd->valid() ? 0 : lastError();
}

// Opens the lock file of dataDir, made first when create is true and there
// is none.
// Read-only is enough for a lock, so a lock file another user created
// serves every user that can read it. Never through a link or a FIFO.
int openLockFile(const char *dataDir, bool create, UniqueFd *fd) {
    if (dataDir == nullptr || dataDir[0] == '\0') return ENOENT;
    const std::string path = joinPath(dataDir, kRunLockName);
    if (create) {
        int error = createLockFile(path, dataDir, fd);
        if (error != 0) return error;
    } else {
        fd->reset(open(path.c_str(), kOpenFlags));
        if (!fd->valid()) return lastError();
    }
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
    int error = openLockFile(dataDir, true, &fd_);
    if (error == 0) error = tryLock(fd_.get(), LOCK_EX);
    if (error != 0) fd_.reset();
    return error;
}

int probeRunLock(const char *dataDir) {
    UniqueFd fd;
    int error = openLockFile(dataDir, false, &fd);
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

Result RunLock::take(const char *dataDir) {
    const int error = acquire(dataDir);
    return Result::system(error, error == 0 ? "" : describeRunLockFailure(error, dataDir));
}

std::string describeRunLockFailure(int error, const char *dataDir) {
    if (error == EWOULDBLOCK) return formatText(NSFMEND_RUN_LOCK_BUSY, dataDir);
    return formatText(NSFMEND_RUN_LOCK_FAILED, joinPath(dataDir, kRunLockName).c_str(),
                      systemText(error).c_str());
}

}  // namespace nsfmend
