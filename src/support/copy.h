// File copy with the source's times, mode and owner. createNew == 1: the
// destination must not exist and is removed again if the copy fails;
// anything else: an existing destination is truncated and overwritten.
// Result: 0, a positive errno, or -1.
#ifndef NSFMEND_SUPPORT_COPY_H
#define NSFMEND_SUPPORT_COPY_H

int CopyUnixFile(const char *source, const char *destination, int createNew);
int SysFileCopy(const char *source, const char *destination, int createNew);
int LogFileCopy(const char *source, const char *destination, int createNew);

#endif
