// Media recovery: NSFRecoverDatabases and NSFRecoverDatabasesWithCallback
// roll a backup copy of a database forward through the log extents.
#include <string.h>

#include <string>
#include <vector>

#include "formats/codec.h"
#include "formats/dbfile.h"
#include "runtime/files.h"
#include "runtime/hooks.h"
#include "runtime/messages.h"
#include "runtime/paths.h"
#include "runtime/runtime.h"
#include "runtime/timedate.h"
#include "server/change.h"
#include "server/state.h"
#include "server/txlog.h"

namespace emu {

namespace {

struct ReplayStep {
    LogRecord rec;
    uint32_t extent;
};

// The records to replay for one database, in sequence order, checked for a
// complete chain from the first needed record up to the cut-off or the end
// of the log. The chain is checked on the extents themselves, so that it
// holds just as well when the log control file was rebuilt from them.
STATUS CollectReplay(const LogConfig &cfg, const DbHeader &db, bool toTime, int64_t cutoff,
                     std::vector<ReplayStep> *steps) {
    LogControl ctl;
    STATUS st = LoadControl(cfg, &ctl);
    if (st != NOERROR) return st;
    if (!UnidEqual(db.logId, ctl.logId)) return EMU_ERR_LOG_MISMATCH;
    // The log ends before the database's own last change: the extents that
    // held it, and whatever followed, are lost.
    if (db.lastSeq >= ctl.nextSeq) return EMU_ERR_LOG_GAP;
    std::vector<uint32_t> numbers;
    int err = ListExtents(cfg.logDir, &numbers);
    if (err != 0) return FileStatus(err);
    uint64_t expected = db.lastSeq + 1;  // the first record the database lacks
    uint32_t previous = 0;               // the extent read before this one
    for (uint32_t number : numbers) {
        // Records after lastSeq live in lastExtent or later ones.
        if (number < db.lastExtent) continue;
        // A missing number is a lost extent, even one rolled over empty
        // (whose neighbours' sequence numbers join): the chain a recovery
        // reads is whole or it is not used.
        if (previous != 0 && number != previous + 1) return EMU_ERR_LOG_GAP;
        previous = number;
        Extent ext;
        st = ReadExtent(cfg.logDir, number, &ext);
        if (st != NOERROR) return st;
        if (!UnidEqual(ext.logId, ctl.logId)) return EMU_ERR_LOG_MISMATCH;
        for (const LogRecord &rec : ext.records) {
            if (rec.seq < expected) continue;
            // Records between the last one read and this one are in no
            // extent here: an extent before it was cut short.
            if (rec.seq > expected) return EMU_ERR_LOG_GAP;
            expected++;
            if (!UnidEqual(rec.dbIid, db.instanceId)) continue;
            // Nothing after the cut-off is needed, so no later gap matters.
            if (toTime && rec.time > cutoff) return NOERROR;
            steps->push_back(ReplayStep{rec, number});
        }
    }
    // Records the log says it holds but no extent here has: an extent was
    // lost or cut short after the last record read. Rebuilt from the
    // extents, the log's end is the newest extent's first number plus its
    // records, so this holds without the control file too.
    if (expected < ctl.nextSeq) return EMU_ERR_LOG_GAP;
    return NOERROR;
}

// Replays into the file at path (native, absolute) every logged change of
// its instance after its last applied sequence number, up to *recoveryTime
// when flags has RECOVER_TO_TIME. All or nothing: on any failure, a gap or a
// non-zero callback return the file is left as it was.
STATUS RecoverFile(const LogConfig &cfg, const std::string &path, DWORD flags,
                   TIMEDATE *recoveryTime, NOTE_CALLBACK noteCallback, void *context) {
    // What a recovery of this file killed midway left beside it goes first,
    // whether or not this one gets to write.
    RemoveStaleTemps(path);
    // The header and, once replayed, the changed notes; the file's other
    // notes stay on disk until they are merged with them.
    DbFile db;
    STATUS st = CheckDb(path, &db);
    if (st != NOERROR) return st;
    if (!db.logged) return EMU_ERR_NOT_LOGGED;
    bool toTime = (flags & RECOVER_TO_TIME) != 0;
    int64_t cutoff = 0;
    if (toTime) {
        if (recoveryTime == nullptr) return EMU_ERR_BAD_ARGUMENT;
        cutoff = TimeDateHundredths(*recoveryTime);
        // The backup already holds changes after that time and nothing can
        // take them out again: recovering "to" it would be a false success.
        if (db.lastTime != 0 && cutoff < db.lastTime) return EMU_ERR_CUTOFF_BEFORE_BACKUP;
    }
    std::vector<ReplayStep> steps;
    st = CollectReplay(cfg, db, toTime, cutoff, &steps);
    if (st != NOERROR) return st;

    for (const ReplayStep &step : steps) {
        if (noteCallback != nullptr) {
            NOTE_RECOVERY_INFO info;
            memset(&info, 0, sizeof info);
            info.InfoSize = static_cast<WORD>(sizeof info);
            info.NoteID = step.rec.noteId;
            // A note handle only lives for the callback; the sequence number
            // makes it distinct per change.
            info.NoteHandle = static_cast<DWORD>(step.rec.seq);
            info.StartTime = MakeTimeDate(step.rec.time, 0, false);
            info.UserName = step.rec.user.c_str();
            info.BackupFileName = path.c_str();
            STATUS cb = noteCallback(step.rec.action, context, &info);
            if (cb != NOERROR) return cb;  // nothing written yet: the file is untouched
        }
        ApplyRecord(&db, step.rec, step.extent);
    }

    bool keepIid = (flags & RECOVER_THIRD_OPTION) != 0;
    bool newIid = !keepIid && (flags & (RECOVER_NEW_INSTANCE_ID | RECOVER_TO_TIME)) != 0;
    bool newReplica = (flags & RECOVER_NEW_REPLICA_ID) != 0;
    if (newIid) db.instanceId = RandomUnid();
    if (newReplica) db.replicaId = RandomUnid();
    if (!steps.empty() || newIid || newReplica) {
        st = RewriteDb(path, path, &db, db.notes);
        if (st != NOERROR) return st;
    }
    if (!steps.empty() && recoveryTime != nullptr)
        *recoveryTime = MakeTimeDate(steps.back().rec.time, 0, false);
    return NOERROR;
}

}  // namespace

}  // namespace emu

namespace {

STATUS Recover(const char *call, char *dbNames, RESTORE_CALLBACK restoreCallback, DWORD flags,
               WORD *errDbIndex, TIMEDATE *recoveryTime, NOTE_CALLBACK noteCallback,
               void *context);

// The call as the caller made it, for the tests: the path's bytes as passed
// (LMBCS), the flag word and the cut-off.
STATUS LoggedRecover(const char *call, char *dbNames, RESTORE_CALLBACK restoreCallback,
                     DWORD flags, WORD *errDbIndex, TIMEDATE *recoveryTime,
                     NOTE_CALLBACK noteCallback, void *context) {
    if (!emu::CallLogOn())
        return Recover(call, dbNames, restoreCallback, flags, errDbIndex, recoveryTime,
                       noteCallback, context);
    std::string time = recoveryTime != nullptr
                           ? emu::FormatIsoUtc(emu::TimeDateHundredths(*recoveryTime))
                           : std::string("none");
    STATUS st = Recover(call, dbNames, restoreCallback, flags, errDbIndex, recoveryTime,
                        noteCallback, context);
    emu::LogCall(call, {"path=" + emu::EscapeBytes(dbNames ? dbNames : ""),
                        "flags=" + std::to_string(flags), "time=" + time,
                        "status=" + std::to_string(st)});
    return st;
}

STATUS Recover(const char *call, char *dbNames, RESTORE_CALLBACK restoreCallback, DWORD flags,
               WORD *errDbIndex, TIMEDATE *recoveryTime, NOTE_CALLBACK noteCallback,
               void *context) {
    if (errDbIndex) *errDbIndex = 0;  // only one name is ever recovered
    STATUS st = emu::CheckCall(call);
    if (st != NOERROR) return st;
    if (dbNames == nullptr || dbNames[0] == '\0') return EMU_ERR_BAD_ARGUMENT;
    emu::LogConfig cfg;
    st = emu::LoadLogConfig(&cfg);
    if (st != NOERROR) return st;
    if (!cfg.logging) return EMU_LOGGING_OFF;
    // Only the first name of the list is recovered. A backup file lives
    // anywhere, so a relative name is taken from the current directory.
    std::string path = emu::AbsolutePath(emu::ApiPath(dbNames));
    st = emu::RecoverFile(cfg, path, flags, recoveryTime, noteCallback, context);
    if (st == NOERROR && restoreCallback != nullptr) restoreCallback(dbNames, 1, 1);
    return st;
}

}  // namespace

extern "C" {

STATUS NSFRecoverDatabases(char *dbNames, RESTORE_CALLBACK restoreCallback, DWORD flags,
                           WORD *errDbIndex, TIMEDATE *recoveryTime) {
    return LoggedRecover("NSFRecoverDatabases", dbNames, restoreCallback, flags, errDbIndex,
                         recoveryTime, nullptr, nullptr);
}

STATUS NSFRecoverDatabasesWithCallback(char *dbNames, RESTORE_CALLBACK restoreCallback,
                                       DWORD flags, WORD *errDbIndex, TIMEDATE *recoveryTime,
                                       NOTE_CALLBACK noteCallback, void *context) {
    return LoggedRecover("NSFRecoverDatabasesWithCallback", dbNames, restoreCallback, flags,
                         errDbIndex, recoveryTime, noteCallback, context);
}

}  // extern "C"
