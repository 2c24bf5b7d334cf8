// File copy with the source's times, and the source's mode and owner or,
// for a restore, those of the file it replaces. The copy is written to
// a hidden temporary file beside the destination, synced, and renamed into
// place, so the destination is only ever the old file or the whole copy.
// createNew == 1: the destination must not exist (EEXIST, left untouched);
// anything else: an existing regular file is replaced whole, while a
// symbolic link (ELOOP), folder (EISDIR) or special file (EINVAL) is
// refused. Only a regular source is copied (EISDIR, EINVAL otherwise).
// Result: 0, a positive errno, or -1.
#ifndef NSFMEND_SUPPORT_COPY_H
#define NSFMEND_SUPPORT_COPY_H

#include "support/durable.h"

namespace nsfmend {
class Progress;
class Sha256;

// Whose owner, group and mode the copy takes; its times are the source's.
enum class CopyAccess {
    // The source's, its owner where this process may give it: an archived
    // extent is its source's copy.
    kFollowSource,
    // A restore brings back content, not the permissions of wherever the
    // backup lay. A destination that exists keeps its own owner, group and
    // mode exactly: an owner this process cannot give fails the copy
    // (EPERM) and leaves the destination as it was. A new one takes the
    // source's, without group or other write access that the source's
    // folder and the destination's folder do not both give already.
    kKeepDestination,
};

// The one copy: source to destination, placed as `how` says (kNoReplace:
// the destination must not exist; kReplace: an existing regular file is
// replaced whole), progress (when given) told how far the data has moved.
// digest (when given) takes every byte of the copy as it is written, a hole
// as its zeros: the copy's checksum without reading the copy again, which
// would move the access time it was given on a relatime mount.
int copyFile(const char *source, const char *destination, Placing how, Progress *progress,
             CopyAccess access, Sha256 *digest = nullptr);

}  // namespace nsfmend

// The named copies, as copyFile with createNew == 1 for kNoReplace.
int CopyUnixFile(const char *source, const char *destination, int createNew,
                 nsfmend::Progress *progress = nullptr,
                 nsfmend::CopyAccess access = nsfmend::CopyAccess::kFollowSource);
int SysFileCopy(const char *source, const char *destination, int createNew,
                nsfmend::Progress *progress = nullptr,
                nsfmend::CopyAccess access = nsfmend::CopyAccess::kFollowSource);
int LogFileCopy(const char *source, const char *destination, int createNew,
                nsfmend::Sha256 *digest = nullptr);

#endif
