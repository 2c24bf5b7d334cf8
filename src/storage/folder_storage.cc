#include "storage/folder_storage.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "support/compare.h"
#include "support/copy.h"
#include "support/raii.h"
#include "support/sha256.h"
#include "support/sysfile.h"

namespace nsfmend {
namespace {

// The piece a file is read in.
constexpr size_t kReadPiece = 1u << 20;

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

int notDots(const struct dirent *entry) {
    return strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0;
}

// Opened without blocking (a FIFO would block the open) and refused unless
// it is a regular file: EISDIR for a folder, EINVAL for the rest.
int openRegular(const std::string &path, int flags, UniqueFd *fd) {
    fd->reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags));
    if (!fd->valid()) return lastError();
    struct stat st;
    if (fstat(fd->get(), &st) != 0) return lastError();
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return S_ISREG(st.st_mode) ? 0 : EINVAL;
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

FolderStorage::FolderStorage(std::string prefix, std::string location)
    : prefix_(std::move(prefix)), location_(std::move(location)) {}

std::string FolderStorage::folder() const { return prefix_.empty() ? "." : prefix_; }

std::string FolderStorage::pathOf(std::string_view name) const {
    return prefix_ + std::string(name);
}

Result FolderStorage::prepare() { return Result::system(SysFileCreateDirectory(location_.c_str())); }

Result FolderStorage::list(std::vector<StoredEntry> *entries) {
    entries->clear();
    const std::string dir = folder();
    ScandirList list;
    const int count = scandir(dir.c_str(), list.out(), notDots, nullptr);
    if (count < 0) return Result::system(lastError());
    list.setCount(count);
    // Looked up relative to the open folder; a folder that cannot be opened
    // leaves every kind unknown, and whoever reads an entry finds out why.
    UniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    entries->reserve((size_t)count);
    for (int i = 0; i < count; ++i) {
        StoredEntry entry;
        entry.name = list[i]->d_name;
        struct stat st;
        if (fd.valid() && fstatat(fd.get(), list[i]->d_name, &st, 0) == 0) {
            entry.kind = S_ISREG(st.st_mode) ? StoredKind::kRegular : StoredKind::kNotRegular;
            entry.folder = S_ISDIR(st.st_mode);
            if (S_ISREG(st.st_mode)) entry.size = (uint64_t)st.st_size;
            entry.modified = st.st_mtime;
        }
        entries->push_back(std::move(entry));
    }
    // Byte order, whatever the locale of the process the library runs in.
    std::sort(entries->begin(), entries->end(),
              [](const StoredEntry &a, const StoredEntry &b) { return a.name < b.name; });
    return Result::ok();
}

Result FolderStorage::probe(std::string_view name) {
    UniqueFd fd;
    const int rc = openRegular(pathOf(name), 0, &fd);
    // Anything but a regular file is one kind of refusal here.
    return Result::system(rc == EISDIR ? EINVAL : rc);
}

Result FolderStorage::read(std::string_view name, ByteSink *sink) {
    UniqueFd fd;
    int rc = openRegular(pathOf(name), 0, &fd);
    if (rc != 0) return Result::system(rc);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadPiece]);
    if (!buffer) return Result::system(ENOMEM);
    for (;;) {
        size_t got = 0;
        rc = readAll(fd.get(), buffer.get(), kReadPiece, &got);
        if (rc == 0 && got > 0) rc = sink->write(buffer.get(), got);
        if (rc != 0) return Result::system(rc);
        if (got < kReadPiece) return Result::ok();
    }
}

Result FolderStorage::put(const char *source, std::string_view name, StoredDigest *stored) {
    Sha256 digest;
    const int rc = archiveFile(source, pathOf(name).c_str(), &digest);
    if (rc != 0) return Result::system(rc);
    // Taken from the bytes as they were copied or compared: the copy is
    // never read again for it, which would move the access time it was
    // given.
    stored->size = digest.length();
    stored->sha256 = digest.hexDigest();
    return Result::ok();
}

Result FolderStorage::digest(std::string_view name, StoredDigest *digest) {
    // The archived copy as it is on disk now, never through a link.
    UniqueFd fd(open(pathOf(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return Result::system(lastError());
    FileDigest whole;
    const int rc = sha256File(fd.get(), {}, &whole);
    if (rc != 0) return Result::system(rc);
    digest->size = whole.size;
    digest->sha256 = whole.whole;
    return Result::ok();
}

Result FolderStorage::writeText(std::string_view name, std::string_view text, Placing how) {
    // Readable by whoever may read the copies beside it, so that anyone
    // can check them with sha256sum.
    struct stat mode = {};
    mode.st_mode = S_IFREG | 0644;
    mode.st_uid = geteuid();
    mode.st_gid = getegid();
    return Result::system(writeWholeFile(pathOf(name).c_str(), text, &mode, how));
}

void FolderStorage::removeLeftovers() {
    UniqueFd fd(open(folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) (void)nsfmend::removeLeftovers(fd.get(), "");
}

}  // namespace nsfmend
