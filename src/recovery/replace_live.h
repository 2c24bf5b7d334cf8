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
// mark (one file: the caller resolves both from one path). ok once the copy
// is in place and the database online (or, with kReplace, in use by no
// server); otherwise the first failure. A failed copy leaves the live file
// as it was and brings the database back online; a failed online leaves the
// copy in place and the database offline with its mark, for the next
// restore to resume.
Result replaceLiveDatabase(const char *recoveredFile, const char *apiPath, const char *filePath,
                           WhenNotInUse notInUse, RestoreReport *report);

}  // namespace nsfmend

#endif
