// File copy with the source's times, mode and owner. The copy is written to
// a hidden temporary file beside the destination, synced, and renamed into
// place, so the destination is only ever the old file or the whole copy.
// createNew == 1: the destination must not exist (EEXIST, left untouched);
// anything else: an existing regular file is replaced whole, while a
// symbolic link (ELOOP), folder (EISDIR) or special file (EINVAL) is
// refused. Only a regular source is copied (EISDIR, EINVAL otherwise).
// Result: 0, a positive errno, or -1.
#ifndef NSFMEND_SUPPORT_COPY_H
#define NSFMEND_SUPPORT_COPY_H

namespace nsfmend {
class Progress;
}

// progress, when given, is told how far the copy is as the data moves.
int CopyUnixFile(const char *source, const char *destination, int createNew,
                 nsfmend::Progress *progress = nullptr);
int SysFileCopy(const char *source, const char *destination, int createNew,
                nsfmend::Progress *progress = nullptr);
int LogFileCopy(const char *source, const char *destination, int createNew);

#endif
