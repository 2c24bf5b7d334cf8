#include "runtime/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "runtime/messages.h"
#include "runtime/paths.h"

namespace emu {

Fd::~Fd() { Close(); }

int Fd::Close() {
    if (fd_ < 0) return 0;
    int rc = close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

int ReadWholeFile(const std::string &path, std::string *out, int64_t maxSize) {
    out->clear();
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return errno;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (static_cast<int64_t>(st.st_size) > maxSize) return EFBIG;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        out->append(buf, static_cast<size_t>(n));
        if (static_cast<int64_t>(out->size()) > maxSize) return EFBIG;
    }
    return 0;
}

int WriteAll(int fd, const void *data, size_t n) {
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t put = write(fd, p, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
    return 0;
}

int WriteAllAt(int fd, const void *data, size_t n, uint64_t off) {
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t put = pwrite(fd, p, n, static_cast<off_t>(off));
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += put;
        off += static_cast<uint64_t>(put);
        n -= static_cast<size_t>(put);
    }
    return 0;
}

namespace {

const char kTempMark[] = ".tmp-";
// mkstemp replaces six X's with letters and digits.
constexpr size_t kTempRandom = 6;

bool IsTempOf(const std::string &name, const std::string &base) {
    const size_t mark = sizeof kTempMark - 1;
    if (name.size() != base.size() + mark + kTempRandom) return false;
    if (name.compare(0, base.size(), base) != 0) return false;
    if (name.compare(base.size(), mark, kTempMark) != 0) return false;
    for (size_t i = base.size() + mark; i < name.size(); i++) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

}  // namespace

void RemoveStaleTemps(const std::string &path) {
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string dir = DirName(path);
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return;
    std::vector<std::string> stale;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): our own stream; readdir is safe per stream
    while (struct dirent *e = readdir(d))
        if (IsTempOf(e->d_name, base)) stale.push_back(e->d_name);
    closedir(d);
    for (const std::string &name : stale) {
        const std::string full = JoinPath(dir, name);
        Fd fd(open(full.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
        // Locked: a live writer's, left alone. Anything else of that name
        // is a stopped writer's leftover.
        if (fd.valid() && flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        unlink(full.c_str());
    }
}

AtomicFile::~AtomicFile() {
    if (!fd_.valid()) return;
    fd_.Close();
    unlink(tmp_.c_str());
}

int AtomicFile::Create(const std::string &path, mode_t mode) {
    if (mode == 0) {
        struct stat st;
        mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    }
    path_ = path;
    mode_ = mode;
    RemoveStaleTemps(path);
    for (int attempt = 0; attempt < 8; attempt++) {
        tmp_ = path + kTempMark + std::string(kTempRandom, 'X');
        int fd = mkstemp(&tmp_[0]);
        if (fd < 0) return errno;
        fd_.Reset(fd);
        // Held until the rename or the removal: another process's clean-up
        // then leaves this file alone.
        if (flock(fd, LOCK_EX) != 0) return errno;
        // Taken away before it was locked, by a clean-up that found it
        // unlocked: make another.
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_nlink > 0) return 0;
        fd_.Close();
    }
    return EEXIST;
}

int AtomicFile::Commit() {
    if (!fd_.valid()) return EBADF;
    int err = 0;
    if (fchmod(fd_.get(), mode_) != 0) err = errno;
    if (err == 0 && fsync(fd_.get()) != 0) err = errno;
    // Renamed while still open, so still locked: no clean-up takes it first.
    if (err == 0 && rename(tmp_.c_str(), path_.c_str()) != 0) err = errno;
    int closeErr = fd_.Close();
    if (err == 0) err = closeErr;
    if (err != 0) {
        unlink(tmp_.c_str());
        return err;
    }
    // The rename is only durable once the folder itself is synced.
    Fd dir(open(DirName(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) fsync(dir.get());
    return 0;
}

int WriteFileAtomic(const std::string &path, std::string_view data, mode_t mode) {
    AtomicFile file;
    int err = file.Create(path, mode);
    if (err == 0) err = WriteAll(file.fd(), data.data(), data.size());
    return err != 0 ? err : file.Commit();
}

int AppendFileSynced(const std::string &path, std::string_view data) {
    Fd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!fd.valid()) return errno;
    int err = WriteAll(fd.get(), data.data(), data.size());
    if (err == 0 && fdatasync(fd.get()) != 0) err = errno;
    int closeErr = fd.Close();
    return err != 0 ? err : closeErr;
}

STATUS FileStatus(int err) {
    switch (err) {
        case 0: return NOERROR;
        case ENOENT:
        case ENOTDIR: return EMU_ERR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return EMU_ERR_FILE_ACCESS;
        case ENOMEM: return EMU_ERR_NO_MEMORY;
        case ENAMETOOLONG: return EMU_ERR_NAME_TOO_LONG;
        default: return EMU_ERR_FILE_IO;
    }
}

}  // namespace emu
