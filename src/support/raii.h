// Owners for the system resources the program opens, so that every early
// return of the long step-by-step operations releases what it holds.
#ifndef NSFMEND_SUPPORT_RAII_H
#define NSFMEND_SUPPORT_RAII_H

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "support/sysfile.h"

namespace nsfmend {

// A file descriptor, closed on destruction unless released. Close() reports
// the close result because a failed close of a written file is lost data.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // 0, or the errno of the failed close; the descriptor is gone either way.
    int Close() {
        if (fd_ < 0) return 0;
        return ::close(release()) == 0 ? 0 : lastError();
    }

private:
    int fd_ = -1;
};

// A stdio stream, closed on destruction unless released.
class UniqueFile {
public:
    UniqueFile() = default;
    explicit UniqueFile(FILE *file) : file_(file) {}
    ~UniqueFile() { reset(); }
    UniqueFile(const UniqueFile &) = delete;
    UniqueFile &operator=(const UniqueFile &) = delete;

    FILE *get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    FILE *release() {
        FILE *f = file_;
        file_ = nullptr;
        return f;
    }
    void reset(FILE *file = nullptr) {
        // A close that can lose written data is the writer's to check, on a
        // released stream; dropping one here only gives up reading.
        if (file_ != nullptr) (void)fclose(file_);
        file_ = file;
    }

private:
    FILE *file_ = nullptr;
};

// An open directory stream.
class UniqueDir {
public:
    UniqueDir() = default;
    explicit UniqueDir(DIR *dir) : dir_(dir) {}
    ~UniqueDir() {
        if (dir_ != nullptr) closedir(dir_);
    }
    UniqueDir(const UniqueDir &) = delete;
    UniqueDir &operator=(const UniqueDir &) = delete;

    DIR *get() const { return dir_; }
    explicit operator bool() const { return dir_ != nullptr; }

private:
    DIR *dir_ = nullptr;
};

// The entry array that scandir allocates: every entry and the array itself.
class ScandirList {
public:
    ScandirList() = default;
    ~ScandirList() { reset(); }
    ScandirList(const ScandirList &) = delete;
    ScandirList &operator=(const ScandirList &) = delete;

    // Pass to scandir as its list argument; store its result with setCount.
    struct dirent ***out() {
        reset();
        return &entries_;
    }
    void setCount(int count) { count_ = count < 0 ? 0 : count; }
    int count() const { return count_; }
    struct dirent *operator[](int i) const { return entries_[i]; }

    void reset() {
        if (entries_ != nullptr) {
            for (int i = 0; i < count_; i++) free(entries_[i]);
            free(entries_);
        }
        entries_ = nullptr;
        count_ = 0;
    }

private:
    struct dirent **entries_ = nullptr;
    int count_ = 0;
};

// Memory from malloc/strdup (getline buffers, _strdup copies).
struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};

}  // namespace nsfmend

#endif
