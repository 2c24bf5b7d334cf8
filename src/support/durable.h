// The one writer of the files the server owns: databases, notes.ini and
// archived extents. Nothing is changed in place. The new content goes to a
// hidden temporary file in the destination's own folder, is synced and given
// its attributes, is renamed into place, and the folder is synced. A run
// stopped at any point leaves the old file or the new one under the final
// name, and at worst a temporary file that the next write of that name (or
// the next archiving run) removes.
//
// Callers hold the run lock (support/run_lock.h): the clean-up of leftovers
// assumes that no other run writes the same names at the same time.
//
// Results follow the file layer: 0, a positive errno, or -1.
#ifndef NSFMEND_SUPPORT_DURABLE_H
#define NSFMEND_SUPPORT_DURABLE_H

#include <stddef.h>
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "support/raii.h"

namespace nsfmend {

// How a finished temporary file takes its final name.
enum class Placing {
    kReplace,    // an existing file of that name is replaced whole
    kNoReplace,  // an existing entry of that name wins: EEXIST, nothing replaced
};

// "." + finalName + "." + tag, the final name shortened so the whole stays
// within one name's 255 bytes. Leading dot: no pickup pattern such as
// S*.TXN* takes it; ending in the tag: no database suffix matches it.
std::string hiddenSiblingName(std::string_view finalName, std::string_view tag);
// True for the name of a temporary file of these writes: one made for
// finalName, or for any name when finalName is empty.
bool isTemporaryName(std::string_view name, std::string_view finalName);

// fsync; a descriptor the file system cannot sync at all (EINVAL) counts as
// synced, since there is nothing more to make durable.
int syncDescriptor(int fd);
// fsync of a file by name (opened read-only, never followed past a FIFO).
int syncFile(const char *path);
// fsync of the folder that holds path ("." when it has no "/"), so that the
// folder's entry for the file is on disk too.
int syncFolderOf(const char *path);

// Writes all of data, across short writes and interruptions.
int writeAll(int fd, const void *data, size_t size);
// Reads size bytes, across short reads and interruptions; fewer only at the
// end of the file. *got tells how many arrived.
int readAll(int fd, void *buffer, size_t size, size_t *got);

// Renames from into to, both names in one open folder. kNoReplace uses the
// kernel's no-replace rename, or a hard link and unlink where the file system
// lacks it, or (no hard links either) a check then a rename, which the run
// lock makes safe.
int renameIntoPlace(int folderFd, const char *from, const char *to, Placing how);
// Removes the temporary files that interrupted runs left in the open folder:
// those made for finalName, or every one when finalName is empty.
int removeLeftovers(int folderFd, std::string_view finalName);

// Whether a new file may end up belonging to this process's user when the
// owner it is to have cannot be given.
enum class Owner {
    kIfAllowed,  // yes: a copy of a source we may not give away is still ours
    kExact,      // never: a replaced database stays its owner's
};

// 0 when this process may give a file of its own the owner and group of
// like (it may change owners, or they are its user and one of its groups);
// EPERM otherwise. Asks without changing anything.
int ownerCanBeGiven(const struct stat &like);

// A new file on its way to finalPath. The destructor removes it unless it
// has been placed, so every early return leaves nothing behind.
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // Opens finalPath's folder, removes that name's leftovers and creates the
    // hidden temporary file (exclusive, never through a link, mode 0600).
    int create(const char *finalPath);
    int fd() const { return file_.get(); }
    int folderFd() const { return folder_.get(); }
    // The whole of data, across short writes.
    int write(const void *data, size_t size);
    // Mode and owner of `like`, and its access and modification times when
    // withTimes. With Owner::kIfAllowed, not being allowed to set the owner
    // is no failure: the file then belongs to this process's user, as any
    // file it creates. With Owner::kExact it is (EPERM, EINVAL, ...).
    int giveAttributes(const struct stat &like, bool withTimes,
                       Owner owner = Owner::kIfAllowed);
    // fsync, close, rename into place, fsync of the folder.
    int place(Placing how);

private:
    UniqueFd folder_;
    UniqueFd file_;
    std::string finalName_;
    std::string tempName_;
    bool created_ = false;
};

// A regular file's whole content. Opened without blocking; a FIFO, device
// or folder is refused (EINVAL, or EISDIR for a folder) and never read.
int readWholeFile(const char *path, std::string *content);
// Writes content to path through a temporary file. keep, when given,
// supplies the mode and owner the file gets (otherwise mode 0600 minus
// nothing: the temporary file's own).
int writeWholeFile(const char *path, std::string_view content, const struct stat *keep,
                   Placing how);
// Replaces an existing file's content, keeping its mode and owner. A
// symbolic link stays and the file it points to is replaced, in that file's
// folder. A file this user may not write is refused (EACCES, EPERM, EROFS)
// as writing it in place would be.
int replaceFileContent(const char *path, std::string_view content);
// Whether replaceFileContent would get to write path, asked without writing
// anything: the file (a link's target) is a regular file this user may
// write, in a folder where this user may make the temporary file. 0, or the
// errno the replacement would meet. folder, when given, receives the folder
// the new copy is written in (a link's target's, not the link's).
int checkReplaceable(const char *path, std::string *folder = nullptr);
// Whether the file system under folder takes a new file of `bytes` bytes:
// its blocks and one inode. 0, ENOSPC, or the errno of asking; *available
// receives the bytes this user may still write there.
int roomFor(const std::string &folder, unsigned long long bytes, unsigned long long *available);
// Removes path and syncs its folder. A missing file gives ENOENT.
int removeFile(const char *path);

}  // namespace nsfmend

#endif
