// One backup file: recover it, and on "RESTORE" put it in place of a live
// database (offline, copy over, online).
#ifndef NSFMEND_RECOVERY_RESTORE_SINGLE_H
#define NSFMEND_RECOVERY_RESTORE_SINGLE_H

#include <string>

#include "notesapi/notesapi.h"

namespace nsfmend {
class Progress;
}

// 1 on success or when there was nothing to do, 0 after printing a failure.
int restoreSingleDatabase(const char *operation, const char *backupPath, const char *dbPath,
                          const char *cutOffTime, int newDbiid, int newRepid);
STATUS TakeDbsOffline(const char *dbPath);
// Puts the copy in place whole (temporary file, sync, rename): on failure
// the database file is as it was. The copy has the backup's times; a live
// file it replaces keeps its owner, group and mode, and a new one takes the
// backup's without write access for group or others that the folders do
// not give (CopyAccess::kKeepDestination). progress, when given, shows the
// copy's progress (the command line's restore).
int RestoreDbs(const char *source, const char *destination,
               nsfmend::Progress *progress = nullptr);
STATUS BringDbsOnline(const char *dbPath);

namespace nsfmend {

// The reason given when the live database is no regular file.
extern const char kNotRegularDatabase[];
// A restore writes only a regular file, or a database not there yet. A
// symbolic link is never followed (it could point anywhere, and a restore
// runs as root), and a FIFO, device or folder is not a database.
bool isReplaceableDatabase(const char *dbPath);
// Why a restore may not replace dbPath, asked before anything is changed:
// empty when it may. Besides isReplaceableDatabase's rule (kNotRegularDatabase),
// a live file whose owner and group this process could not give the new
// file is refused: the database is never handed to another user.
std::string restoreRefusal(const char *dbPath);

// A hidden mark beside the live database that a restore has taken it
// offline: set before the database goes offline, cleared once it is online
// again. A restore stopped in between leaves it, and the next restore of
// that database knows the offline state is its own to undo.
class OfflineMark {
public:
    // Writes the mark durably; remembers whether an earlier restore left one.
    int set(const char *dbPath);
    bool leftByEarlierRestore() const { return leftBefore_; }
    // Removes the mark. Its removal can fail only to leave a mark behind,
    // which costs the next restore no more than a check.
    void clear();
    // Clears a mark that only this run set: the database is not offline by
    // any restore of ours.
    void clearIfOwn() {
        if (!leftBefore_) clear();
    }

private:
    std::string path_;
    bool leftBefore_ = false;
};

// TakeDbsOffline for a restore. When it fails and an interrupted restore had
// left the database offline (the server then refuses a second offline), the
// database is brought online and taken offline again, so that only the
// server's own answers decide; *resumed tells that this happened.
STATUS takeOfflineForRestore(const char *apiPath, const OfflineMark &mark, bool *resumed);

}  // namespace nsfmend

#endif
