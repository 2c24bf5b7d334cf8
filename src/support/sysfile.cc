// The file layer: one result convention (0, a positive errno, or -1 for a
// failure without one) and the LMBCS translations of paths.
#include "support/sysfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/durable.h"
#include "support/sizes.h"

using nsfmend::kPathSize;
using nsfmend::lastError;

int nsfmend::lastError() { return errno > 0 ? errno : -1; }

int nsfmend::accessAllowed(const char *path, int mode) {
    return faccessat(AT_FDCWD, path, mode, AT_EACCESS) == 0 ? 0 : lastError();
}

WORD OSTranslateTo(WORD mode, const char *in, WORD inLength, char *out, WORD outSize) {
    return OSTranslate(mode, in, inLength, out, outSize);
}

WORD OSTranslateToLMBCS(const char *in, WORD inLength, char *out, WORD outSize) {
    return OSTranslateTo(TRANSLATE_NATIVE_TO_LMBCS, in, inLength, out, outSize);
}

WORD OSTranslateFromLMBCS(const char *in, WORD inLength, char *out, WORD outSize) {
    return OSTranslateTo(TRANSLATE_LMBCS_TO_NATIVE, in, inLength, out, outSize);
}

// Translates an LMBCS path into native; false when it cannot fit, since a
// path cut short would name a different file.
static bool NativePath(const char *lmbcsPath, char (&native)[kPathSize]) {
    memset(native, 0, sizeof native);
    size_t len = strlen(lmbcsPath);
    if (len >= kPathSize) return false;
    OSTranslateFromLMBCS(lmbcsPath, (WORD)len, native, (WORD)sizeof native);
    return strlen(native) < kPathSize - 1 || len == kPathSize - 1;
}

static int OpenTranslated(const char *lmbcsPath, int flags, mode_t mode, int *fd) {
    char native[kPathSize];
    if (!NativePath(lmbcsPath, native)) return ENAMETOOLONG;
    int rc = open(native, flags, mode);
    if (rc == -1) return lastError();
    if (rc < 0) return -1;
    *fd = rc;
    return 0;
}

int SysFileOpenRead(const char *lmbcsPath, int *fd) { return OpenTranslated(lmbcsPath, O_RDONLY, 0, fd); }

int SysFileCreate(const char *lmbcsPath, int *fd) {
    return OpenTranslated(lmbcsPath, O_RDWR | O_CREAT | O_EXCL, 0600, fd);
}

int SysFileWrite(int fd, const void *data, size_t length) {
    ssize_t n = write(fd, data, length);
    if (n == -1) return lastError();
    if (n < 0 || (size_t)n != length) return -1;
    return 0;
}

int SysFileRead(int fd, void *buffer, size_t length) {
    ssize_t n = read(fd, buffer, length);
    if (n == -1) return lastError();
    if (n < 0 || (size_t)n != length) return -1;
    return 0;
}

int SysFileSeek(int fd, off_t offset) {
    off_t pos = lseek(fd, offset, SEEK_SET);
    if (pos == (off_t)-1) return lastError();
    if (pos < 0 || pos != offset) return -1;
    return 0;
}

int SysFileClose(int fd) {
    int rc = close(fd);
    if (rc == -1) return lastError();
    return rc == 0 ? 0 : -1;
}

int SysFileDelete(const char *lmbcsPath) {
    char native[kPathSize];
    if (!NativePath(lmbcsPath, native)) return ENAMETOOLONG;
    int rc = remove(native);
    if (rc == -1) return lastError();
    if (rc != 0) return -1;
    // A removal the folder has not recorded on disk can come back after a
    // power cut.
    return nsfmend::syncFolderOf(native);
}

int SysFileCreateDirectory(const char *path) {
    char local[kPathSize] = {};
    size_t len = strlen(path);
    if (len >= sizeof local) return ENAMETOOLONG;
    memcpy(local, path, len + 1);
    int rc = mkdir(local, 0700);
    if (rc == -1) return errno == EEXIST ? 0 : lastError();
    if (rc != 0) return -1;
    // A new folder is only there for good once its parent is synced; the
    // files later made durable in it would otherwise go with it. One that
    // cannot be made durable is taken away again, so that the next attempt
    // creates and syncs it anew instead of finding it there.
    rc = nsfmend::syncFolderOf(local);
    if (rc != 0) (void)rmdir(local);
    return rc;
}
