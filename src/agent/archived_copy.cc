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
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {
namespace {

// How the existing archived file's bytes stand to the source's.
int compareWithSource(const char *archived, const char *source, ContentRelation *relation) {
    *relation = ContentRelation::kDifferent;
    UniqueFd old(open(archived, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!old.valid()) return lastError();
    UniqueFd src(open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!src.valid()) return lastError();
    return compareContents(old.get(), src.get(), relation);
}

}  // namespace

int archiveFile(const char *source, const char *archivedName) {
    struct stat st;
    if (lstat(archivedName, &st) != 0) {
        if (errno != ENOENT) return lastError();
        return LogFileCopy(source, archivedName, 1);
    }
    if (!S_ISREG(st.st_mode)) return EEXIST;
    ContentRelation relation;
    int rc = compareWithSource(archivedName, source, &relation);
    if (rc != 0) return rc;
    switch (relation) {
        case ContentRelation::kIdentical:
            // An earlier run may have been stopped before its copy reached
            // the disk; the server must not hear "archived" before it has.
            rc = syncFile(archivedName);
            return rc != 0 ? rc : syncFolderOf(archivedName);
        case ContentRelation::kPrefix:
            return LogFileCopy(source, archivedName, 0);
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
