// The file layer: one result convention for every file operation (0 success,
// a positive errno, or -1 for a failure without one) and the LMBCS path
// translations the platform API needs.
#ifndef NSFMEND_SUPPORT_SYSFILE_H
#define NSFMEND_SUPPORT_SYSFILE_H

#include <stddef.h>
#include <sys/types.h>

#include "notesapi/notesapi.h"

WORD OSTranslateTo(WORD mode, const char *in, WORD inLength, char *out, WORD outSize);
WORD OSTranslateToLMBCS(const char *in, WORD inLength, char *out, WORD outSize);
WORD OSTranslateFromLMBCS(const char *in, WORD inLength, char *out, WORD outSize);

int SysFileOpenRead(const char *lmbcsPath, int *fd);
int SysFileCreate(const char *lmbcsPath, int *fd);  // O_RDWR|O_CREAT|O_EXCL, 0600
int SysFileWrite(int fd, const void *data, size_t length);
int SysFileRead(int fd, void *buffer, size_t length);
// off_t, not long: the 32-bit build must reach offsets past 2 GiB too.
int SysFileSeek(int fd, off_t offset);
int SysFileClose(int fd);
int SysFileDelete(const char *lmbcsPath);
int SysFileCreateDirectory(const char *path);  // an existing entry counts as success

namespace nsfmend {

// The result of a system call that failed: its errno, or -1 when it set
// none (a positive number must never be mistaken for success).
int lastError();
// Whether this process, as its effective user, may access path in mode
// (R_OK, W_OK, X_OK): 0, or the errno of the refusal.
int accessAllowed(const char *path, int mode);

}  // namespace nsfmend

#endif
