// File copy with the source's times, and its mode and owner or those of the
// file it replaces, made through the durable-write layer: the destination
// changes only by a rename of the finished, synced copy.
//
// The data moves in fixed-size pieces (the kernel's copy_file_range where it
// can, a 1 MiB buffer otherwise), so memory does not grow with the file; the
// holes of a sparse source stay holes. Every read, write, sync and close is
// checked: a copy cut short is never reported as done.
#include "support/copy.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <string>

#include "support/durable.h"
#include "support/path.h"
#include "support/progress.h"
#include "support/raii.h"
#include "support/sha256.h"
#include "support/sizes.h"
#include "support/sysfile.h"

using nsfmend::CopyAccess;
using nsfmend::lastError;
using nsfmend::Placing;
using nsfmend::Progress;

namespace {

// One kernel copy request, and the buffer of the read/write fallback.
const size_t kChunk = 8u << 20;
const size_t kBufferSize = 1u << 20;

// One test covers both names of "not supported".
static_assert(ENOTSUP == EOPNOTSUPP, "ENOTSUP and EOPNOTSUPP differ on this system");

// Errors that mean "copy_file_range cannot do this pair", not "the copy failed".
bool KernelCopyUnsupported(int err) {
    return err == EXDEV || err == ENOSYS || err == EINVAL || err == EOPNOTSUPP ||
           err == EBADF || err == EPERM || err == ETXTBSY || err == EOVERFLOW;
}

struct Mover {
    Mover(int inFd, int outFd, Progress *shown, uint64_t size, nsfmend::Sha256 *hash)
        : in(inFd), out(outFd), kernel(hash == nullptr), progress(shown), total(size),
          digest(hash) {}
    int in;
    int out;
    // The kernel's copy never shows the bytes: a digest needs them read.
    bool kernel;
    bool kernelMovedAny = false;
    std::unique_ptr<char[]> buffer;
    Progress *progress;
    uint64_t total;
    uint64_t position = 0;  // of the source, holes skipped included
    nsfmend::Sha256 *digest;

    // A skipped hole reads back as zeros: the digest takes them up to offset.
    void zerosTo(uint64_t offset) {
        static const char kZeros[4096] = {};
        while (digest != nullptr && digest->length() < offset) {
            const uint64_t left = offset - digest->length();
            digest->update(kZeros, left < sizeof kZeros ? (size_t)left : sizeof kZeros);
        }
    }

    void moved(ssize_t n) {
        position += (uint64_t)n;
        if (progress != nullptr) progress->bytes(position, total);
    }
};

// Moves `length` bytes (negative: up to the end of the source) between the
// two descriptors' current offsets. *ended tells that the source ran out.
int MoveBytes(Mover &m, int64_t length, bool *ended) {
    *ended = false;
    while (length != 0) {
        size_t chunk = (length < 0 || (uint64_t)length > kChunk) ? kChunk : (size_t)length;
        if (m.kernel) {
            ssize_t n = copy_file_range(m.in, nullptr, m.out, nullptr, chunk, 0);
            if (n > 0) {
                m.kernelMovedAny = true;
                m.moved(n);
                if (length > 0) length -= n;
                continue;
            }
            if (n == 0 && m.kernelMovedAny) {
                *ended = true;
                return 0;
            }
            if (n < 0 && errno == EINTR) continue;
            // Some file systems report 0 for files whose size they do not
            // know; let read() decide where such a source ends.
            if (n < 0 && !KernelCopyUnsupported(errno)) return lastError();
            m.kernel = false;
        }
        if (!m.buffer) {
            m.buffer.reset(new (std::nothrow) char[kBufferSize]);
            if (!m.buffer) return ENOMEM;
        }
        size_t want = chunk < kBufferSize ? chunk : kBufferSize;
        ssize_t n = read(m.in, m.buffer.get(), want);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        if (n == 0) {
            *ended = true;
            return 0;
        }
        int rc = nsfmend::writeAll(m.out, m.buffer.get(), (size_t)n);
        if (rc != 0) return rc;
        if (m.digest != nullptr) m.digest->update(m.buffer.get(), (size_t)n);
        m.moved(n);
        if (length > 0) length -= n;
    }
    return 0;
}

int SeekBoth(Mover &m, off_t offset) {
    if (lseek(m.in, offset, SEEK_SET) == (off_t)-1) return lastError();
    if (lseek(m.out, offset, SEEK_SET) == (off_t)-1) return lastError();
    m.position = (uint64_t)offset;
    m.zerosTo(m.position);
    return 0;
}

// Copies a regular file's content into the new, empty temporary file. Only
// the data regions are moved and the holes skipped (a skipped range reads
// back as zeros), so a sparse database stays sparse.
int CopyContent(int in, int out, uint64_t size, Progress *progress, nsfmend::Sha256 *digest) {
    Mover m(in, out, progress, size, digest);
    bool ended = false;
    off_t pos = 0;
    for (;;) {
        off_t data = lseek(in, pos, SEEK_DATA);
        if (data == (off_t)-1) {
            if (errno == ENXIO) {  // only a hole, if anything, is left
                off_t end = lseek(in, 0, SEEK_END);
                if (end == (off_t)-1) return lastError();
                if (end > pos && ftruncate(out, end) != 0) return lastError();
                if (end > pos) m.zerosTo((uint64_t)end);
                return 0;
            }
            if (errno != EINVAL && errno != EOPNOTSUPP) return lastError();
            int rc = SeekBoth(m, pos);  // no hole support here: copy the rest plainly
            return rc != 0 ? rc : MoveBytes(m, -1, &ended);
        }
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole == (off_t)-1) return lastError();
        int rc = SeekBoth(m, data);
        if (rc != 0) return rc;
        rc = MoveBytes(m, (int64_t)(hole - data), &ended);
        if (rc != 0 || ended) return rc;  // a source that shrank meanwhile ends the copy
        pos = hole;
    }
}

// Only a regular file has content to copy: a FIFO would block, a device
// might never end, a folder has none.
int NotRegular(mode_t mode) { return S_ISDIR(mode) ? EISDIR : EINVAL; }

// What an existing destination allows: create-new mode never touches one;
// overwrite mode replaces a regular file only, never writing through a link.
// *found tells whether there is one, with its status in *st.
int CheckDestination(const char *dst, bool create, struct stat *st, bool *found) {
    *found = false;
    if (lstat(dst, st) != 0) return errno == ENOENT ? 0 : lastError();
    *found = true;
    if (create) return EEXIST;
    if (S_ISLNK(st->st_mode)) return ELOOP;
    return S_ISREG(st->st_mode) ? 0 : NotRegular(st->st_mode);
}

// The group and other write bits a file of group gid may have in this
// folder without letting anyone change it who could not replace it there
// already. A sticky folder lets its writers replace only their own files.
mode_t WriteGivenBy(const struct stat &folder, gid_t gid) {
    if ((folder.st_mode & S_ISVTX) != 0) return 0;
    if ((folder.st_mode & S_IWOTH) != 0) return S_IWGRP | S_IWOTH;
    return (folder.st_mode & S_IWGRP) != 0 && folder.st_gid == gid ? S_IWGRP : 0;
}

// The mode a restore gives a database that did not exist: the backup's,
// less the group and other write access both folders do not give.
int NewDatabaseMode(const char *src, int destFolderFd, const struct stat &backup, mode_t *mode) {
    const std::string folder = nsfmend::parentOf(src);
    struct stat from, to;
    if (stat(folder.c_str(), &from) != 0 || fstat(destFolderFd, &to) != 0) return lastError();
    const mode_t given = WriteGivenBy(from, backup.st_gid) & WriteGivenBy(to, backup.st_gid);
    *mode = backup.st_mode & ~((mode_t)(S_IWGRP | S_IWOTH) & ~given);
    return 0;
}

// The attributes the finished copy takes under access: the source's times
// always; the owner and mode as CopyAccess says.
int AttributesFor(CopyAccess access, const char *src, int destFolderFd, const struct stat &source,
                  const struct stat *live, struct stat *give, nsfmend::Owner *owner) {
    *give = source;
    *owner = nsfmend::Owner::kIfAllowed;
    if (access == CopyAccess::kFollowSource) return 0;
    if (live == nullptr) return NewDatabaseMode(src, destFolderFd, source, &give->st_mode);
    give->st_uid = live->st_uid;
    give->st_gid = live->st_gid;
    give->st_mode = live->st_mode;
    *owner = nsfmend::Owner::kExact;
    return 0;
}

}  // namespace

int nsfmend::copyFile(const char *source, const char *destination, Placing how,
                      Progress *progress, CopyAccess access, Sha256 *digest) {
    const bool create = how == Placing::kNoReplace;
    char src[kPathSize] = {};
    char dst[kPathSize] = {};
    // A path cut to fit would name another file: refuse it instead.
    if (strlen(source) >= kPathSize || strlen(destination) >= kPathSize) return ENAMETOOLONG;
    memcpy(src, source, strlen(source) + 1);
    memcpy(dst, destination, strlen(destination) + 1);

    struct stat st;
    int rc = stat(src, &st);
    if (rc == -1) return lastError();
    if (rc != 0) return -1;
    if (!S_ISREG(st.st_mode)) return NotRegular(st.st_mode);
    struct stat live;
    bool found = false;
    rc = CheckDestination(dst, create, &live, &found);
    if (rc != 0) return rc;

    // Without blocking, and checked again once open: the name may have been
    // swapped for a FIFO since the look above.
    UniqueFd in(open(src, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in.valid()) return lastError();
    if (fstat(in.get(), &st) != 0) return lastError();
    if (!S_ISREG(st.st_mode)) return NotRegular(st.st_mode);

    // The copy is made whole beside the destination and only then takes its
    // name; until then the destination is as it was, and a failure removes
    // the temporary file.
    TempFile out;
    rc = out.create(dst);
    if (rc == 0) rc = CopyContent(in.get(), out.fd(), (uint64_t)st.st_size, progress, digest);
    if (progress != nullptr) progress->clear();
    struct stat give;
    nsfmend::Owner owner = nsfmend::Owner::kIfAllowed;
    if (rc == 0)
        rc = AttributesFor(access, src, out.folderFd(), st, found ? &live : nullptr, &give, &owner);
    if (rc == 0) rc = out.giveAttributes(give, true, owner);
    if (rc == 0) rc = out.place(how);
    // The source was only read: closing it cannot lose anything.
    return rc;
}

int CopyUnixFile(const char *source, const char *destination, int createNew, Progress *progress,
                 CopyAccess access) {
    return nsfmend::copyFile(source, destination,
                             createNew == 1 ? Placing::kNoReplace : Placing::kReplace, progress,
                             access);
}

int SysFileCopy(const char *source, const char *destination, int createNew, Progress *progress,
                CopyAccess access) {
    return CopyUnixFile(source, destination, createNew, progress, access);
}

int LogFileCopy(const char *source, const char *destination, int createNew,
                nsfmend::Sha256 *digest) {
    return nsfmend::copyFile(source, destination,
                             createNew == 1 ? Placing::kNoReplace : Placing::kReplace, nullptr,
                             CopyAccess::kFollowSource, digest);
}
