#include "agent/durable.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "agent/status_ops.h"
#include "support/raii.h"

namespace {

int syncPath(const char *path, int flags) {
    UniqueFd file(open(path, flags | O_CLOEXEC));
    if (!file.valid()) return errno;
    // EINVAL: the file system cannot sync this kind of file at all, so
    // there is nothing more that could be made durable.
    if (fsync(file.get()) != 0 && errno != EINVAL) return errno;
    return file.Close();
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
