// The sweep over the data directory after a disaster restore: list every
// database of the tree first, then recover the logged ones in list order.
#include "recovery/media_recovery.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "notesapi/notesapi.h"
#include "recovery/restore_single.h"
#include "support/path.h"
#include "support/progress.h"
#include "support/raii.h"
#include "support/sizes.h"
#include "support/text.h"

namespace nsfmend {
namespace {

// An open database handle that is closed on every early return; close()
// is the checked close of the normal path.
class OpenDatabase {
public:
    OpenDatabase() = default;
    OpenDatabase(const OpenDatabase &) = delete;
    OpenDatabase &operator=(const OpenDatabase &) = delete;
    ~OpenDatabase() {
        if (open_) NSFDbClose(handle_);
    }
    STATUS open(const char *path) {
        STATUS status = NSFDbOpen(path, &handle_);
        open_ = status == NOERROR;
        return status;
    }
    DBHANDLE handle() const { return handle_; }
    STATUS close() {
        open_ = false;
        return NSFDbClose(handle_);
    }

private:
    DBHANDLE handle_ = 0;
    bool open_ = false;
};

// A directory on the current descent path, by device and inode: meeting it
// again below itself means a symbolic link loops back up the tree.
struct DirId {
    dev_t device;
    ino_t inode;
};

int listingFailure(char *message, const char *directory, int errorNumber) {
    setMessage(message, listingFailureText(directory, errorNumber).c_str());
    return 0;
}

bool isDatabaseName(const char *path) {
    std::string extension = baseName(path);
    const size_t dot = extension.rfind('.');
    if (dot == std::string::npos) return false;
    extension.erase(0, dot);
    _strlwr(&extension[0]);
    return extension == ".box" || extension == ".nsf";
}

int listDirectory(const char *directory, StringArray *list, const char *topDirectory,
                  char *message, std::vector<DirId> *descent) {
    if (strlen(directory) > kPathSize - 1) return listingFailure(message, directory, ENAMETOOLONG);

    ScandirList entries;
    const int count = scandir(directory, entries.out(), file_select2, alphasort);
    if (count < 0) return listingFailure(message, directory, errno);
    entries.setCount(count);
    if (count == 0) return 1;
    // Entries are looked up relative to the open folder: the same answer as a
    // stat of the whole path, without walking that path again for every entry.
    UniqueFd folder(open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));

    const bool atTop = std::string_view(directory) == std::string_view(topDirectory);
    bool searchable = false;

    for (int i = 0; i < count; ++i) {
        const char *name = entries[i]->d_name;
        // A path past the path buffer is refused, never cut short.
        const std::string joined = joinPath(directory, name);
        if (!fitsBuffer(joined)) return listingFailure(message, directory, ENAMETOOLONG);
        const char *path = joined.c_str();

        // A plain file can fail its lookup only when the folder cannot be
        // searched; once one lookup here succeeded, its directory entry says
        // all the listing needs, which saves a system call per database.
        if (!searchable || entries[i]->d_type != DT_REG) {
            struct stat status;
            const int statResult = folder.valid() ? fstatat(folder.get(), name, &status, 0)
                                                  : stat(path, &status);
            if (statResult != 0) {
                formatMessage(message, "Fail to get stat from %s, Reason=%s\n", name,
                              systemText(errno).c_str());
                return 0;
            }
            searchable = true;

            if (S_ISDIR(status.st_mode)) {
                for (const DirId &seen : *descent) {
                    if (seen.device == status.st_dev && seen.inode == status.st_ino)
                        return listingFailure(message, path, ELOOP);
                }
                descent->push_back(DirId{status.st_dev, status.st_ino});
                int listed = listDirectory(path, list, topDirectory, message, descent);
                descent->pop_back();
                if (!listed) return 0;
                continue;
            }
            // A FIFO, socket or device is no database, whatever its name: the
            // library would wait forever on a FIFO or read a device without end.
            if (!S_ISREG(status.st_mode)) continue;
        }

        if (atTop && std::string_view(name) == "log.nsf") continue;
        if (isDatabaseName(path)) arrayAppend(list, path);
    }
    return 1;
}

}  // namespace
}  // namespace nsfmend

using nsfmend::kMessageSize;

int file_select2(const struct dirent *entry) {
    const std::string_view name = entry->d_name;
    return name == "." || name == ".." || name == "log.nsf" ? 0 : 1;
}

int listDatabases(const char *directory, StringArray *list, const char *topDirectory,
                  char *message) {
    std::vector<nsfmend::DirId> descent;
    struct stat status;
    if (stat(directory, &status) == 0) descent.push_back(nsfmend::DirId{status.st_dev, status.st_ino});
    return nsfmend::listDirectory(directory, list, topDirectory, message, &descent);
}

nsfmend::LoggedQuery nsfmend::queryLogged(const char *dbPath) {
    LoggedQuery query;
    OpenDatabase db;
    query.status = db.open(dbPath);
    if (query.status != NOERROR) {
        query.failedStep = "open";
        return query;
    }
    BOOL logged = FALSE;
    UNID logId{};
    UNID instanceId{};
    DWORD extent = 0;
    query.status = NSFDbGetLogInfo(db.handle(), 0, &logged, &logId, &instanceId, &extent);
    if (query.status != NOERROR) {
        query.failedStep = "get log info from";
        return query;  // the owner closes the handle; that close is not checked
    }
    query.status = db.close();
    if (query.status != NOERROR) {
        query.failedStep = "close";
        return query;
    }
    query.logged = logged != FALSE;
    query.logExtent = extent;
    query.logId = logId;
    return query;
}

std::string nsfmend::describeLoggedFailure(const char *dbPath, const LoggedQuery &query) {
    char reason[kMessageSize];
    memset(reason, 0, sizeof(reason));
    get_api_error_message(query.status, reason);
    char line[kMessageSize + kPathSize];
    (void)snprintf(line, sizeof line, "Fail to %s database %s, Reason=%s",
                   query.failedStep != nullptr ? query.failedStep : "open", dbPath, reason);
    return line;
}

int isLoggedDatabase(const char *dbPath) {
    const nsfmend::LoggedQuery query = nsfmend::queryLogged(dbPath);
    if (query.failedStep != nullptr) {
        printf(" %s\n", nsfmend::describeLoggedFailure(dbPath, query).c_str());
        return -1;
    }
    return query.logged ? 1 : 0;
}

int restoreAllDatabases(const char *, const char *directory, const char *topDirectory,
                        const char *cutOffTime, int newDbiid, int newRepid) {
    char message[kMessageSize];
    memset(message, 0, sizeof(message));

    // The whole tree is listed before anything is opened: either every
    // database is considered, or none.
    std::vector<std::string> paths;
    if (!nsfmend::listDatabasePaths(directory, topDirectory, &paths, message)) {
        puts(message);
        return 0;
    }
    // Each is asked once; the sweep prints what it found in list order.
    std::vector<nsfmend::SweepDatabase> databases;
    databases.reserve(paths.size());
    for (std::string &path : paths) {
        const nsfmend::LoggedQuery answer = nsfmend::queryLogged(path.c_str());
        databases.push_back(nsfmend::SweepDatabase{std::move(path), answer, ""});
    }
    nsfmend::CutOff cutOff;
    const STATUS read = nsfmend::readCutOff(cutOffTime, &cutOff);
    if (read != NOERROR) {
        // Every recovery stops at the same unreadable cut-off, after its
        // recovering line.
        for (nsfmend::SweepDatabase &db : databases)
            db.refusal = "\n\n Recovering backup file " + db.path + "...\n" +
                         nsfmend::recoveryFailureLine(db.path, nsfmend::Result::api(read).reason());
    }
    return nsfmend::recoverListedDatabases(databases, cutOff, newDbiid, newRepid);
}

int nsfmend::listDatabasePaths(const char *directory, const char *topDirectory,
                               std::vector<std::string> *paths, char *message) {
    paths->clear();
    OwnedStringArray list = newStringArray();
    if (!list) return listingFailure(message, directory, ENOMEM);
    if (!listDatabases(directory, list.get(), topDirectory, message)) return 0;
    const int count = getArraySize(list.get());
    for (int position = 1; position <= count; ++position) {
        const char *path = getArrayItem(list.get(), position);
        if (path != nullptr) paths->emplace_back(path);
    }
    return 1;
}

int nsfmend::recoverListedDatabases(const std::vector<SweepDatabase> &databases,
                                    const CutOff &cutOff, int newDbiid, int newRepid) {
    const long count = (long)databases.size();
    int recovered = 0;
    int skipped = 0;
    std::vector<const char *> failed;  // owned by the caller's list
    Progress progress;
    for (long position = 1; position <= count; ++position) {
        const SweepDatabase &db = databases[(size_t)position - 1];
        const char *path = db.path.c_str();
        progress.item(position, count, path);
        if (db.answer.failedStep != nullptr) {
            printf(" %s\n", describeLoggedFailure(path, db.answer).c_str());
            failed.push_back(path);
        } else if (!db.answer.logged) {
            printf(" Skip recover database %s because it is not a logged database\n", path);
            skipped++;
        } else if (!db.refusal.empty()) {
            printf("%s\n", db.refusal.c_str());
            failed.push_back(path);
        } else {
            SingleRun run;
            run.operation = "RECOVER";
            run.backupPath = db.path;
            run.cutOff = cutOff;
            run.newDbiid = newDbiid;
            run.newRepid = newRepid;
            // Its own lines report a failed recovery; the sweep goes on.
            if (carryOutSingleRun(run) == 1)
                recovered++;
            else
                failed.push_back(path);
        }
    }
    progress.clear();
    if (count == 0) return 1;
    // One line a script can check, then every database that needs a look.
    printf("Media recovery: %d recovered, %d skipped as not logged, %d failed\n", recovered,
           skipped, (int)failed.size());
    for (const char *path : failed) printf(" Failed: %s\n", path);
    return failed.empty() ? 1 : 0;
}
