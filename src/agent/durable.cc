#include "agent/durable.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "agent/status_ops.h"

namespace {

// Owns a descriptor so every return path closes it.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

int syncPath(const char *path, int flags) {
    Fd file(open(path, flags | O_CLOEXEC));
    if (file.fd < 0) return errno;
    // EINVAL: the file system cannot sync this kind of file at all, so
    // there is nothing more that could be made durable.
    if (fsync(file.fd) != 0 && errno != EINVAL) return errno;
    if (close(file.fd) != 0) {
        file.fd = -1;
        return errno;
    }
    file.fd = -1;
    return 0;
}

}  // namespace

int syncFile(const char *path) {
    return syncPath(path, O_RDONLY);
}

int syncParentDirectory(const char *path) {
    char folder[kPathSize];
    memset(folder, 0, sizeof folder);
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) {
        folder[0] = '.';
    } else if (slash == path) {
        folder[0] = '/';
    } else {
        size_t length = static_cast<size_t>(slash - path);
        if (length >= sizeof folder) return ENAMETOOLONG;
        memcpy(folder, path, length);
    }
    return syncPath(folder, O_RDONLY | O_DIRECTORY);
}
