// File-system primitives under every part of the emulator: owned
// descriptors, whole-file reads, write loops, crash-safe replacement and
// synced appends, and the status a file error is reported as.
#ifndef NOTESEMU_RUNTIME_FILES_H
#define NOTESEMU_RUNTIME_FILES_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"

namespace emu {

// Owns a file descriptor; -1 owns nothing.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd();
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Close();  // 0 or errno
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    // Gives the descriptor up without closing it.
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Reads a whole file; 0 or errno. A folder is EISDIR; a file above maxSize
// (by its size, or by what it yields, for a device) is EFBIG.
int ReadWholeFile(const std::string &path, std::string *out, int64_t maxSize);

// Writes all n bytes, at the descriptor's offset or at off; 0 or errno.
int WriteAll(int fd, const void *data, size_t n);
int WriteAllAt(int fd, const void *data, size_t n, uint64_t off);

// The new version of a file, written to a temporary file in the same folder
// (path + ".tmp-" + six characters) and renamed over the old one only once
// complete and synced, so a crash leaves either the old or the new file,
// never a torn one. Destroyed without Commit, it removes the temporary file;
// one a killed process left is removed by the next write of the same file.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    // 0 or errno. The new file gets `mode` (0 keeps the old file's mode, or
    // 0644 for a new file).
    int Create(const std::string &path, mode_t mode = 0);
    int fd() const { return fd_.get(); }
    // Mode, sync, rename, then the folder's sync; 0 or errno.
    int Commit();

private:
    std::string path_, tmp_;
    mode_t mode_ = 0644;
    Fd fd_;
};

// Removes the temporary files that AtomicFiles of path left when their
// process was stopped. A writer holds a lock on its temporary file until it
// is renamed or removed, so one still being written is left alone.
void RemoveStaleTemps(const std::string &path);

// Replaces path with data through an AtomicFile.
int WriteFileAtomic(const std::string &path, std::string_view data, mode_t mode = 0);
// Appends data and syncs it; 0 or errno.
int AppendFileSynced(const std::string &path, std::string_view data);

// Maps an errno of a file operation to the emulator's status.
STATUS FileStatus(int err);

}  // namespace emu

#endif
