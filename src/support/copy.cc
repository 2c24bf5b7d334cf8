// File copy with the source's times, mode and owner.
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

#include "support/raii.h"
#include "support/sysfile.h"

namespace {

const size_t kPathSize = 1024;
// One kernel copy request, and the buffer of the read/write fallback.
const size_t kChunk = 8u << 20;
const size_t kBufferSize = 1u << 20;

int LastError() { return errno > 0 ? errno : -1; }

// One test covers both names of "not supported".
static_assert(ENOTSUP == EOPNOTSUPP, "ENOTSUP and EOPNOTSUPP differ on this system");

// Errors that mean "copy_file_range cannot do this pair", not "the copy failed".
bool KernelCopyUnsupported(int err) {
    return err == EXDEV || err == ENOSYS || err == EINVAL || err == EOPNOTSUPP ||
           err == EBADF || err == EPERM || err == ETXTBSY || err == EOVERFLOW;
}

struct Mover {
    Mover(int inFd, int outFd) : in(inFd), out(outFd) {}
    int in;
    int out;
    bool kernel = true;
    bool kernelMovedAny = false;
    std::unique_ptr<char[]> buffer;
};

int WriteAll(int fd, const char *data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (n == 0) return EIO;  // a device that takes nothing would spin forever
        data += n;
        length -= (size_t)n;
    }
    return 0;
}

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
            if (n < 0 && !KernelCopyUnsupported(errno)) return LastError();
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
            return LastError();
        }
        if (n == 0) {
            *ended = true;
            return 0;
        }
        int rc = WriteAll(m.out, m.buffer.get(), (size_t)n);
        if (rc != 0) return rc;
        if (length > 0) length -= n;
    }
    return 0;
}

int SeekBoth(Mover &m, off_t offset) {
    if (lseek(m.in, offset, SEEK_SET) == (off_t)-1) return LastError();
    if (lseek(m.out, offset, SEEK_SET) == (off_t)-1) return LastError();
    return 0;
}

// Copies the content. Between two regular files only the data regions are
// moved and the holes are skipped (the destination starts empty, so a skipped
// range reads back as zeros); anything else is copied straight to its end.
int CopyContent(int in, int out, bool sparseAware) {
    Mover m(in, out);
    bool ended = false;
    if (!sparseAware) return MoveBytes(m, -1, &ended);
    off_t pos = 0;
    for (;;) {
        off_t data = lseek(in, pos, SEEK_DATA);
        if (data == (off_t)-1) {
            if (errno == ENXIO) {  // only a hole, if anything, is left
                off_t end = lseek(in, 0, SEEK_END);
                if (end == (off_t)-1) return LastError();
                if (end > pos && ftruncate(out, end) != 0) return LastError();
                return 0;
            }
            if (errno != EINVAL && errno != EOPNOTSUPP) return LastError();
            int rc = SeekBoth(m, pos);  // no hole support here: copy the rest plainly
            return rc != 0 ? rc : MoveBytes(m, -1, &ended);
        }
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole == (off_t)-1) return LastError();
        int rc = SeekBoth(m, data);
        if (rc != 0) return rc;
        rc = MoveBytes(m, (int64_t)(hole - data), &ended);
        if (rc != 0 || ended) return rc;  // a source that shrank meanwhile ends the copy
        pos = hole;
    }
}

}  // namespace

int CopyUnixFile(const char *source, const char *destination, int createNew) {
    const bool create = createNew == 1;
    char src[kPathSize] = {};
    char dst[kPathSize] = {};
    // A path cut to fit would name another file: refuse it instead.
    if (strlen(source) >= kPathSize || strlen(destination) >= kPathSize) return ENAMETOOLONG;
    memcpy(src, source, strlen(source) + 1);
    memcpy(dst, destination, strlen(destination) + 1);

    struct stat st;
    int rc = stat(src, &st);
    if (rc == -1) return LastError();
    if (rc != 0) return -1;

    UniqueFd out;
    if (create) {
        // We write through the descriptor of our own exclusive create and
        // never reopen the name: nobody can swap a link in between.
        int fd = -1;
        rc = SysFileCreate(dst, &fd);
        if (rc != 0) return rc;
        out.reset(fd);
    }
    // Create-new mode owns the destination from here on and removes it again
    // when the copy fails; overwrite mode leaves what it has written.
    auto fail = [&](int error) {
        if (create) {
            out.reset();
            SysFileDelete(dst);
        }
        return error;
    };

    UniqueFd in(open(src, O_RDONLY | O_CLOEXEC));
    if (!in.valid()) return fail(LastError());
    struct stat inSt;
    if (fstat(in.get(), &inSt) != 0) return fail(LastError());

    if (!create) {
        // Opening the source itself for writing would truncate it to nothing.
        struct stat dstSt;
        if (stat(dst, &dstSt) == 0 && dstSt.st_dev == inSt.st_dev && dstSt.st_ino == inSt.st_ino)
            return EINVAL;
        out.reset(open(dst, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!out.valid()) return LastError();
    }
    struct stat outSt;
    if (fstat(out.get(), &outSt) != 0) return fail(LastError());
    const bool regularOut = S_ISREG(outSt.st_mode);

    rc = CopyContent(in.get(), out.get(), S_ISREG(inSt.st_mode) && regularOut);
    if (rc != 0) return fail(rc);

    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(out.get(), times) != 0) return fail(LastError());
    if (fchmod(out.get(), st.st_mode & 07777) != 0) return fail(LastError());
    if (fchown(out.get(), st.st_uid, st.st_gid) != 0) {
        // Not being allowed to give the copy the source's owner is no failure:
        // the data is complete, and archiving counts a copied extent as archived.
    }

    // Only then is the copy done: a restore reported as finished must
    // survive a power cut.
    if (regularOut && fsync(out.get()) != 0) return fail(LastError());
    rc = out.Close();
    if (rc != 0) return fail(rc);
    rc = in.Close();
    if (rc != 0) return fail(rc);
    return 0;
}

int SysFileCopy(const char *source, const char *destination, int createNew) {
    return CopyUnixFile(source, destination, createNew);
}

int LogFileCopy(const char *source, const char *destination, int createNew) {
    return CopyUnixFile(source, destination, createNew);
}
