// Putting a recovered file in place of a live database: take it offline,
// copy over it, bring it online, with a mark beside it for as long as it is
// offline. The command line's restore and the agent's restoreNsfDB both
// come here; each passes in how it reports the steps.
#ifndef NSFMEND_RECOVERY_REPLACE_LIVE_H
#define NSFMEND_RECOVERY_REPLACE_LIVE_H

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"
#include "support/result.h"

namespace nsfmend {
class Progress;

// The reason given when the live database is no regular file.
extern const char kNotRegularDatabase[];
// The reason given when its owner cannot be kept: the live file's user and
// group, this process's user.
#define NSFMEND_OWNER_REFUSAL                                                           \
    "The owner of the live database (user %u, group %u) cannot be kept by user %u; a " \
    "database is never handed to another user"
// A restore writes only a regular file, or a database not there yet. A
// symbolic link is never followed (it could point anywhere, and a restore
// runs as root), and a FIFO, device or folder is not a database.
bool isReplaceableDatabase(const char *dbPath);
// Why a restore may not replace dbPath, asked before anything is changed:
// empty when it may. Besides isReplaceableDatabase's rule (kNotRegularDatabase),
// a live file whose owner and group this process could not give the new
// file is refused: the database is never handed to another user.
std::string restoreRefusal(const char *dbPath);

// Where the offline mark of dbPath lies: hidden, beside it.
std::string offlineMarkPath(std::string_view dbPath);

// The questions of replacing a live database that can be asked before
// anything is changed (a plan asks them before the recovery, the run asks
// the last one again just before the offline step). Each gives 0 or the
// errno of the step it belongs to.

// kCopy: the live file's folder takes the temporary copy (a folder this
// user may list, write and search).
int checkLiveFolder(const char *filePath);
// kMark: the offline mark's name holds nothing or a regular file (an
// interrupted restore's mark). A symbolic link (EINVAL), folder (EISDIR) or
// special file (EINVAL) there is never written through nor taken for a
// mark: an offline state of someone else's would pass for our own.
int checkOfflineMark(const char *filePath);
// kCopy: the recovered file can be opened for reading as a regular file.
int checkCopySource(const char *recoveredFile);
// kOffline, for a live database that is not there yet: what taking it
// offline gives, asked of the server. A server cannot take offline a
// database it does not have, so asking changes nothing: STATUS_DB_NOT_IN_USE
// says no server runs (the restore then creates the file), another failure
// is the one the restore would stop at. Should the database have appeared
// meanwhile and gone offline, it is brought online again.
STATUS askOfflineOfMissing(const char *apiPath);

// A hidden mark beside the live database that a restore has taken it
// offline: set before the database goes offline, cleared once it is online
// again. A restore stopped in between leaves it, and the next restore of
// that database knows the offline state is its own to undo.
class OfflineMark {
public:
    // Writes the mark durably; remembers whether an earlier restore left one.
    // Refused as checkOfflineMark says.
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

// The steps of replacing a live database, as its caller hears of them.
enum class RestoreStep {
    kOffline,  // taking the database offline; the mark is set first
    kMark,     // (failures only) setting the offline mark
    kResumed,  // an interrupted restore had left it offline: brought online and offline again
    kCopy,     // the copy over the live file
    kOnline,   // bringing the database online again
};

// How a caller reports: each step as it starts (kResumed once it has
// happened), each failure as it happens, and the copy's progress.
class RestoreReport {
public:
    virtual ~RestoreReport() = default;
    virtual void starting(RestoreStep step) = 0;
    virtual void failed(RestoreStep step, const Result &why) = 0;
    // Shown while the copy runs; null for none.
    virtual Progress *progress() = 0;
};

// What taking the database offline with status 5113 (no server has it open)
// means: the command line replaces the file as it is and has nothing to
// bring back online; the agent stops, as a server it cannot ask might still
// hold the file.
enum class WhenNotInUse { kReplace, kStop };

// Puts recoveredFile in place of the live database, named apiPath for the
// platform's offline and online and filePath for the program's own copy and
// mark (one file: the caller resolves both from one path). A recovered file
// that cannot be read is a failed copy before anything else (checkCopySource):
// the database is never taken offline for a copy that cannot start. ok once the copy
// is in place and the database online (or, with kReplace, in use by no
// server); otherwise the first failure. A failed copy leaves the live file
// as it was and brings the database back online; a failed online leaves the
// copy in place and the database offline with its mark, for the next
// restore to resume.
Result replaceLiveDatabase(const char *recoveredFile, const char *apiPath, const char *filePath,
                           WhenNotInUse notInUse, RestoreReport *report);

}  // namespace nsfmend

#endif
