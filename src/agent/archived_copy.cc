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
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {
namespace {

enum class Relation { kIdentical, kPrefix, kDifferent };

// How the existing archived file's bytes stand to the source's.
int compareWithSource(const char *archived, const char *source, Relation *relation) {
    *relation = Relation::kDifferent;
    UniqueFd old(open(archived, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!old.valid()) return lastError();
    UniqueFd src(open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!src.valid()) return lastError();
    struct stat oldSt, srcSt;
    if (fstat(old.get(), &oldSt) != 0 || fstat(src.get(), &srcSt) != 0) return lastError();
    if (!S_ISREG(oldSt.st_mode) || !S_ISREG(srcSt.st_mode) || oldSt.st_size > srcSt.st_size)
        return 0;

    const size_t kPiece = 1u << 16;
    std::unique_ptr<char[]> a(new (std::nothrow) char[kPiece]);
    std::unique_ptr<char[]> b(new (std::nothrow) char[kPiece]);
    if (!a || !b) return ENOMEM;
    for (;;) {
        size_t gotOld = 0, gotSrc = 0;
        int rc = readAll(old.get(), a.get(), kPiece, &gotOld);
        if (rc == 0 && gotOld > 0) rc = readAll(src.get(), b.get(), gotOld, &gotSrc);
        if (rc != 0) return rc;
        if (gotOld == 0) break;
        if (gotSrc != gotOld || memcmp(a.get(), b.get(), gotOld) != 0) return 0;
    }
    // Every byte of the archived file matched; is there more of the source?
    char extra;
    size_t more = 0;
    int rc = readAll(src.get(), &extra, 1, &more);
    if (rc != 0) return rc;
    *relation = more == 0 ? Relation::kIdentical : Relation::kPrefix;
    return 0;
}

}  // namespace

int archiveFile(const char *source, const char *archivedName) {
    struct stat st;
    if (lstat(archivedName, &st) != 0) {
        if (errno != ENOENT) return lastError();
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

void describeCopyFailure(char *msg, const char *source, const char *archivedName, int error) {
    formatMessage(msg, "Error copying file %s to %s. %s", source, archivedName,
                  systemText(error).c_str());
}

void describeNameTooLong(char *msg, const std::string &archivedName) {
    formatMessage(msg, "Archived name too long (over 1023 characters): %s", archivedName.c_str());
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

}  // namespace nsfmend
