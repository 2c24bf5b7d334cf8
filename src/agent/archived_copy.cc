#include "agent/archived_copy.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "agent/status_ops.h"
#include "agent/texts.h"
#include "support/compare.h"
#include "support/copy.h"
#include "support/durable.h"
#include "support/path.h"
#include "support/raii.h"
#include "support/sha256.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {
namespace {

// Opens path to be read without moving its access time where this process
// may (its owner, or root): a comparison is no use of the file, and the
// copy made next takes the source's access time as it was.
int openUntouched(const char *path, int flags) {
    const int fd = open(path, flags | O_NOATIME);
    return fd < 0 && errno == EPERM ? open(path, flags) : fd;
}

// How the existing archived file's bytes stand to the source's, with the
// digest of the archived file's.
int compareWithSource(const char *archived, const char *source, ContentRelation *relation,
                      Sha256 *digest) {
    *relation = ContentRelation::kDifferent;
    UniqueFd old(openUntouched(archived, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!old.valid()) return lastError();
    UniqueFd src(openUntouched(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!src.valid()) return lastError();
    return compareContents(old.get(), src.get(), relation, digest);
}

}  // namespace

int archiveFile(const char *source, const char *archivedName, Sha256 *digest) {
    *digest = Sha256();
    struct stat st;
    if (lstat(archivedName, &st) != 0) {
        if (errno != ENOENT) return lastError();
        return LogFileCopy(source, archivedName, 1, digest);
    }
    if (!S_ISREG(st.st_mode)) return EEXIST;
    ContentRelation relation;
    int rc = compareWithSource(archivedName, source, &relation, digest);
    if (rc != 0) return rc;
    switch (relation) {
        case ContentRelation::kIdentical:
            // An earlier run may have been stopped before its copy reached
            // the disk; the server must not hear "archived" before it has.
            rc = syncFile(archivedName);
            return rc != 0 ? rc : syncFolderOf(archivedName);
        case ContentRelation::kPrefix:
            *digest = Sha256();
            return LogFileCopy(source, archivedName, 0, digest);
        case ContentRelation::kDifferent:
            break;
    }
    return EEXIST;
}

Result copyFailure(const char *source, const char *archivedName, int error) {
    return Result::system(
        error, formatText(NSFMEND_TEXT_COPYING, source, archivedName, systemText(error).c_str()));
}

Result archivedNameTooLong(const std::string &archivedName) {
    return tooLong("Archived name", archivedName);
}

Result recordFailure(const std::string &archivedName, const std::string &record, int error) {
    return Result::system(error, formatText(NSFMEND_TEXT_RECORDING, archivedName.c_str(),
                                            record.c_str(), systemText(error).c_str()));
}

Result recordWriteFailure(const std::string &record, int error) {
    return Result::system(
        error, formatText(NSFMEND_TEXT_WRITING_RECORD, record.c_str(), systemText(error).c_str()));
}

void removeArchiveLeftovers(const char *destDir) {
    // The archived names are destDir + name, so their folder is the one that
    // holds destDir + "x": destDir itself when it ends with "/".
    const std::string folder = parentOf(std::string(destDir) + "x");
    UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) (void)removeLeftovers(fd.get(), "");
}

}  // namespace nsfmend
