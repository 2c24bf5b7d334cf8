// The one writer of the server's files: temporary file, sync, attributes,
// rename into place, folder sync.
#include "support/durable.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/capability.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "support/path.h"

namespace nsfmend {
namespace {

// The tag of every temporary name: "nsfmend-" and eight hex digits.
const char kTempTag[] = "nsfmend-";
const size_t kTempDigits = 8;
// A name's own limit on Linux file systems.
const size_t kNameMax = 255;

bool isHexDigits(std::string_view text) {
    if (text.size() != kTempDigits) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Eight hex digits that differ between processes and calls; uniqueness is
// finally the exclusive create's, this only keeps retries rare.
std::string randomDigits() {
    static unsigned counter = 0;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long seed = (unsigned long long)now.tv_sec * 1000000007ull ^
                              (unsigned long long)now.tv_nsec ^
                              ((unsigned long long)getpid() << 30) ^ ++counter;
    // Fibonacci hashing: the high half of the product mixes every input bit.
    unsigned long long mix = seed * 0x9E3779B97F4A7C15ull;
    char digits[kTempDigits + 1];
    (void)snprintf(digits, sizeof digits, "%08x", (unsigned)(mix >> 32));
    return digits;
}

int openFolder(const std::string &folder, UniqueFd *fd) {
    fd->reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd->valid() ? 0 : lastError();
}

}  // namespace

std::string hiddenSiblingName(std::string_view finalName, std::string_view tag) {
    const size_t room = kNameMax - 2 - tag.size();
    std::string name = ".";
    name.append(finalName.substr(0, room));
    name += '.';
    name.append(tag);
    return name;
}

bool isTemporaryName(std::string_view name, std::string_view finalName) {
    const size_t tagLength = sizeof kTempTag - 1 + kTempDigits;
    if (name.size() < 2 + tagLength || name[0] != '.') return false;
    std::string_view tail = name.substr(name.size() - tagLength);
    if (tail.substr(0, sizeof kTempTag - 1) != kTempTag) return false;
    if (!isHexDigits(tail.substr(sizeof kTempTag - 1))) return false;
    if (name[name.size() - tagLength - 1] != '.') return false;
    if (finalName.empty()) return true;
    return name == hiddenSiblingName(finalName, tail);
}

int syncDescriptor(int fd) {
    if (fsync(fd) == 0) return 0;
    return errno == EINVAL ? 0 : lastError();
}

int syncFile(const char *path) {
    UniqueFd file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return lastError();
    int rc = syncDescriptor(file.get());
    return rc != 0 ? rc : file.Close();
}

int syncFolderOf(const char *path) {
    // "a/b/" is held by "a", as "a/b" is.
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    std::string folder, name;
    splitPath(trimmed.c_str(), &folder, &name);
    UniqueFd fd;
    int rc = openFolder(folder, &fd);
    if (rc == 0) rc = syncDescriptor(fd.get());
    return rc != 0 ? rc : fd.Close();
}

int renameIntoPlace(int folderFd, const char *from, const char *to, Placing how) {
    if (how == Placing::kReplace)
        return renameat(folderFd, from, folderFd, to) == 0 ? 0 : lastError();

    if (renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return lastError();
    // No no-replace rename here: a hard link cannot replace anything either.
    if (linkat(folderFd, from, folderFd, to, 0) == 0) {
        // The file is in place; a temporary name left over here is only a
        // second name for it, which the next run removes.
        (void)unlinkat(folderFd, from, 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return lastError();
    // No hard links either (FAT-like file systems): look, then rename. Only
    // another run could slip in between, and the run lock keeps it out.
    struct stat st;
    if (fstatat(folderFd, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    if (errno != ENOENT) return lastError();
    return renameat(folderFd, from, folderFd, to) == 0 ? 0 : lastError();
}

int removeLeftovers(int folderFd, std::string_view finalName) {
    int listFd = dup(folderFd);
    if (listFd < 0) return lastError();
    DIR *dir = fdopendir(listFd);
    if (dir == nullptr) {
        int error = lastError();
        close(listFd);
        return error;
    }
    UniqueDir owner(dir);
    rewinddir(dir);
    int result = 0;
    errno = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): our own stream; readdir is safe per stream
    while (struct dirent *entry = readdir(dir)) {
        if (!isTemporaryName(entry->d_name, finalName)) continue;
        if (unlinkat(folderFd, entry->d_name, 0) != 0 && errno != ENOENT && result == 0)
            result = lastError();
        errno = 0;
    }
    if (errno != 0 && result == 0) result = lastError();
    return result;
}

TempFile::~TempFile() {
    file_.reset();
    // Unplaced: the partial or unwanted copy goes. Its result cannot change
    // the outcome already reported, and a left file is the next run's.
    if (created_) (void)unlinkat(folder_.get(), tempName_.c_str(), 0);
}

int TempFile::create(const char *finalPath) {
    std::string folder;
    splitPath(finalPath, &folder, &finalName_);
    if (finalName_.empty()) return EISDIR;
    int rc = openFolder(folder, &folder_);
    if (rc != 0) return rc;
    // Leftovers are hidden and never taken for the file itself: a folder
    // that cannot be listed must not stop the write.
    (void)removeLeftovers(folder_.get(), finalName_);
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempName_ = hiddenSiblingName(finalName_, std::string(kTempTag) + randomDigits());
        int fd = openat(folder_.get(), tempName_.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            file_.reset(fd);
            created_ = true;
            return 0;
        }
        if (errno != EEXIST) return lastError();
    }
    return EEXIST;
}

int writeAll(int fd, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        if (n == 0) return EIO;  // a file that takes nothing would spin forever
        p += n;
        size -= (size_t)n;
    }
    return 0;
}

int readAll(int fd, void *buffer, size_t size, size_t *got) {
    char *p = static_cast<char *>(buffer);
    *got = 0;
    while (*got < size) {
        ssize_t n = ::read(fd, p + *got, size - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        if (n == 0) break;
        *got += (size_t)n;
    }
    return 0;
}

int TempFile::write(const void *data, size_t size) { return writeAll(file_.get(), data, size); }

int TempFile::giveAttributes(const struct stat &like, bool withTimes, Owner owner) {
    if (withTimes) {
        const struct timespec times[2] = {like.st_atim, like.st_mtim};
        if (futimens(file_.get(), times) != 0) return lastError();
    }
    // Owner before mode: a change of owner clears the set-id bits.
    if (fchown(file_.get(), like.st_uid, like.st_gid) != 0 && owner == Owner::kExact)
        return lastError();
    // Otherwise not being allowed to set it is no failure: the file then
    // belongs to this process's user, as any file it creates.
    if (fchmod(file_.get(), like.st_mode & 07777) != 0) return lastError();
    return 0;
}

namespace {

// CAP_CHOWN in the effective set: root's, or a service's that was given it.
bool mayChangeOwners() {
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
    return (data[CAP_TO_INDEX(CAP_CHOWN)].effective & CAP_TO_MASK(CAP_CHOWN)) != 0;
}

bool inGroups(gid_t gid) {
    if (gid == getegid()) return true;
    const int size = getgroups(0, nullptr);
    if (size <= 0) return false;
    std::vector<gid_t> groups((size_t)size);
    const int count = getgroups(size, groups.data());
    if (count <= 0) return false;
    groups.resize((size_t)count);
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

}  // namespace

int ownerCanBeGiven(const struct stat &like) {
    if (mayChangeOwners()) return 0;
    // Without it a file keeps its user, and takes only a group of ours.
    return like.st_uid == geteuid() && inGroups(like.st_gid) ? 0 : EPERM;
}

int TempFile::place(Placing how) {
    int rc = syncDescriptor(file_.get());
    if (rc == 0) rc = file_.Close();
    if (rc == 0) rc = renameIntoPlace(folder_.get(), tempName_.c_str(), finalName_.c_str(), how);
    if (rc != 0) return rc;
    created_ = false;
    return syncDescriptor(folder_.get());
}

int readWholeFile(const char *path, std::string *content) {
    content->clear();
    UniqueFd fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return lastError();
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return lastError();
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    char buffer[65536];
    for (;;) {
        size_t got = 0;
        int rc = readAll(fd.get(), buffer, sizeof buffer, &got);
        if (rc != 0) return rc;
        content->append(buffer, got);
        if (got < sizeof buffer) return fd.Close();
    }
}

int writeWholeFile(const char *path, std::string_view content, const struct stat *keep,
                   Placing how) {
    TempFile temp;
    int rc = temp.create(path);
    if (rc == 0) rc = temp.write(content.data(), content.size());
    if (rc == 0 && keep != nullptr) rc = temp.giveAttributes(*keep, false);
    if (rc == 0) rc = temp.place(how);
    return rc;
}

namespace {

// The file a replacement of path writes (a symbolic link's target, never the
// link) and its status, once it is known to be a regular file this user
// may write.
int replacementTarget(const char *path, std::string *target, struct stat *st) {
    if (lstat(path, st) != 0) return lastError();
    *target = path;
    if (S_ISLNK(st->st_mode)) {
        // The link is the administrator's; the file it names is what changes.
        char resolved[PATH_MAX];
        if (realpath(path, resolved) == nullptr) return lastError();
        *target = resolved;
        if (stat(target->c_str(), st) != 0) return lastError();
    }
    if (!S_ISREG(st->st_mode)) return S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
    return accessAllowed(target->c_str(), W_OK);
}

}  // namespace

int replaceFileContent(const char *path, std::string_view content) {
    std::string target;
    struct stat st;
    int rc = replacementTarget(path, &target, &st);
    if (rc != 0) return rc;
    return writeWholeFile(target.c_str(), content, &st, Placing::kReplace);
}

int checkReplaceable(const char *path, std::string *folder) {
    std::string target;
    struct stat st;
    int rc = replacementTarget(path, &target, &st);
    if (rc != 0) return rc;
    // TempFile opens the folder, then makes its file in it.
    std::string where, name;
    splitPath(target.c_str(), &where, &name);
    if (folder != nullptr) *folder = where;
    return accessAllowed(where.c_str(), R_OK | W_OK | X_OK);
}

int roomFor(const std::string &folder, unsigned long long bytes, unsigned long long *available) {
    struct statvfs fs;
    *available = 0;
    if (statvfs(folder.c_str(), &fs) != 0) return lastError();
    *available = (unsigned long long)fs.f_bavail * fs.f_frsize;
    // A new file takes whole blocks, and one inode where the file system
    // counts them.
    const unsigned long long block = fs.f_frsize != 0 ? fs.f_frsize : 4096;
    const unsigned long long needed = (bytes + block - 1) / block * block + block;
    if (*available < needed) return ENOSPC;
    if (fs.f_files != 0 && fs.f_favail == 0) return ENOSPC;
    return 0;
}

int removeFile(const char *path) {
    if (unlink(path) != 0) return lastError();
    return syncFolderOf(path);
}

}  // namespace nsfmend
