#include "server/change.h"

#include <unistd.h>

#include "formats/codec.h"
#include "runtime/messages.h"
#include "server/state.h"

namespace emu {

STATUS CreateDatabase(const LogConfig &cfg, const std::string &path, bool logged, DbFile *out) {
    if (access(path.c_str(), F_OK) == 0) return EMU_ERR_ALREADY_EXISTS;
    DbFile db;
    db.instanceId = RandomUnid();
    db.replicaId = RandomUnid();
    db.logged = logged;
    LogControl ctl;
    STATUS st = LoadControl(cfg, &ctl);
    if (st == NOERROR) {
        db.logId = ctl.logId;
        db.lastSeq = ctl.nextSeq - 1;
        db.lastExtent = ctl.current;
    } else if (logged && cfg.logging) {
        return st;
    }
    st = WriteDb(path, db);
    if (st == NOERROR && out) *out = std::move(db);
    return st;
}

void ApplyRecord(DbFile *db, const LogRecord &rec, uint32_t extent) {
    if (rec.action != RECOVER_ACTION_UNDO) {
        // The record alone decides the note, so the changes can be merged
        // into a file without reading its old notes; a deletion leaves a stub
        // without text.
        Note &n = db->notes[rec.noteId];
        n.modified = rec.time;
        n.user = rec.user;
        n.deleted = rec.action == RECOVER_ACTION_DELETION;
        n.text = n.deleted ? std::string() : rec.text;
    }
    db->lastSeq = rec.seq;
    db->lastTime = rec.time;
    db->lastExtent = extent;
}

STATUS WriteChange(const LogConfig &cfg, const std::string &path, ChangeKind kind,
                   uint32_t noteId, const std::string &text, const std::string &user,
                   int64_t when, uint8_t *action) {
    if (noteId == 0) return EMU_ERR_BAD_ARGUMENT;
    if (IsOffline(cfg.dataDir, path)) return EMU_ERR_DB_OFFLINE;
    DbFile db;  // the header and the one changed note
    Note old;
    bool found = false;
    STATUS st = FindNote(path, noteId, &db, &old, &found);
    if (st != NOERROR) return st;
    bool live = found && !old.deleted;
    LogRecord rec;
    rec.time = when;
    rec.dbIid = db.instanceId;
    rec.noteId = noteId;
    rec.user = user;
    switch (kind) {
        case ChangeKind::kPut:
            rec.action = live ? RECOVER_ACTION_UPDATE : RECOVER_ACTION_ADDITION;
            rec.text = text;
            break;
        case ChangeKind::kDelete:
            if (!live) return EMU_ERR_NOTE_NOT_FOUND;
            rec.action = RECOVER_ACTION_DELETION;
            break;
        case ChangeKind::kAbort:
            rec.action = RECOVER_ACTION_UNDO;
            rec.text = text;
            break;
    }
    if (user.size() > 0xFFFF) return EMU_ERR_BAD_ARGUMENT;
    if (action) *action = rec.action;
    uint32_t extent = db.lastExtent;
    if (db.logged && cfg.logging) {
        LogControl ctl;
        st = LoadControl(cfg, &ctl);
        if (st != NOERROR) return st;
        if (!UnidEqual(db.logId, ctl.logId)) return EMU_ERR_LOG_MISMATCH;
        st = AppendRecord(cfg, &rec, &extent);
        if (st != NOERROR) return st;
        ApplyRecord(&db, rec, extent);
    } else if (kind != ChangeKind::kAbort) {
        // Unlogged: the change goes straight into the file, with no sequence.
        rec.seq = db.lastSeq;
        ApplyRecord(&db, rec, extent);
    }
    return RewriteDb(path, path, &db, db.notes);
}

}  // namespace emu
