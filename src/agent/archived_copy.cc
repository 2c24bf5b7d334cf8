#include "agent/archived_copy.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <string>

#include "support/copy.h"
#include "support/durable.h"
#include "support/raii.h"

namespace {

int LastError() { return errno > 0 ? errno : -1; }

enum class Relation { kIdentical, kPrefix, kDifferent };

// Reads up to size bytes; fewer only at the end of the file.
int readFully(int fd, char *buffer, size_t size, size_t *got) {
    *got = 0;
    while (*got < size) {
        ssize_t n = read(fd, buffer + *got, size - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (n == 0) break;
        *got += (size_t)n;
    }
    return 0;
}

// How the existing archived file's bytes stand to the source's.
int compareWithSource(const char *archived, const char *source, Relation *relation) {
    *relation = Relation::kDifferent;
    UniqueFd old(open(archived, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!old.valid()) return LastError();
    UniqueFd src(open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!src.valid()) return LastError();
    struct stat oldSt, srcSt;
    if (fstat(old.get(), &oldSt) != 0 || fstat(src.get(), &srcSt) != 0) return LastError();
    if (!S_ISREG(oldSt.st_mode) || !S_ISREG(srcSt.st_mode) || oldSt.st_size > srcSt.st_size)
        return 0;

    const size_t kPiece = 1u << 16;
    std::unique_ptr<char[]> a(new (std::nothrow) char[kPiece]);
    std::unique_ptr<char[]> b(new (std::nothrow) char[kPiece]);
    if (!a || !b) return ENOMEM;
    for (;;) {
        size_t gotOld = 0, gotSrc = 0;
        int rc = readFully(old.get(), a.get(), kPiece, &gotOld);
        if (rc == 0 && gotOld > 0) rc = readFully(src.get(), b.get(), gotOld, &gotSrc);
        if (rc != 0) return rc;
        if (gotOld == 0) break;
        if (gotSrc != gotOld || memcmp(a.get(), b.get(), gotOld) != 0) return 0;
    }
    // Every byte of the archived file matched; is there more of the source?
    char extra;
    size_t more = 0;
    int rc = readFully(src.get(), &extra, 1, &more);
    if (rc != 0) return rc;
    *relation = more == 0 ? Relation::kIdentical : Relation::kPrefix;
    return 0;
}

}  // namespace

int archiveFile(const char *source, const char *archivedName) {
    struct stat st;
    if (lstat(archivedName, &st) != 0) {
        if (errno != ENOENT) return LastError();
        return LogFileCopy(source, archivedName, 1);
    }
    if (!S_ISREG(st.st_mode)) return EEXIST;
    Relation relation;
    int rc = compareWithSource(archivedName, source, &relation);
    if (rc != 0) return rc;
    switch (relation) {
        case Relation::kIdentical:
            // An earlier run may have been stopped before its copy reached
            // the disk; the server must not hear "archived" before it has.
            rc = syncFile(archivedName);
            return rc != 0 ? rc : syncFolderOf(archivedName);
        case Relation::kPrefix:
            return LogFileCopy(source, archivedName, 0);
        case Relation::kDifferent:
            break;
    }
    return EEXIST;
}

void removeArchiveLeftovers(const char *destDir) {
    // The archived names are destDir + name, so their folder is the one that
    // holds destDir + "x": destDir itself when it ends with "/".
    std::string sample = std::string(destDir) + "x";
    const char *slash = strrchr(sample.c_str(), '/');
    std::string folder = slash == nullptr ? std::string(".")
                         : slash == sample.c_str() ? std::string("/")
                                                    : std::string(sample.c_str(), slash);
    UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) (void)removeLeftovers(fd.get(), "");
}
