#include "server/model.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "formats/codec.h"
#include "runtime/files.h"
#include "runtime/lmbcs.h"
#include "runtime/messages.h"
#include "runtime/paths.h"

namespace emu {

STATUS LoadServerState(const std::string &dataDir, ServerState *state) {
    *state = ServerState();
    std::string text;
    int err = ReadWholeFile(JoinPath(dataDir, kStateFileName), &text, 1 << 20);
    if (err == ENOENT) return NOERROR;  // never started: stopped, nothing offline
    if (err != 0) return FileStatus(err);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (line == "running=1") state->running = true;
        else if (line.substr(0, 8) == "offline=" && line.size() > 8)
            state->offline.insert(std::string(line.substr(8)));
    }
    return NOERROR;
}

STATUS SaveServerState(const std::string &dataDir, const ServerState &state) {
    std::string text = state.running ? "running=1\n" : "running=0\n";
    for (const std::string &p : state.offline) text += "offline=" + p + "\n";
    return FileStatus(WriteFileAtomic(JoinPath(dataDir, kStateFileName), text, 0644));
}

std::string ResolveDbPath(const std::string &dataDir, const std::string &name) {
    if (name.empty()) return AbsolutePath(JoinPath(dataDir, kDirectoryDb));
    if (IsAbsolute(name)) return AbsolutePath(name);
    return AbsolutePath(JoinPath(dataDir, name));
}

std::string ApiPath(const char *path) {
    std::string native = LmbcsToNative(path);
    if (native != path && access(native.c_str(), F_OK) != 0 && access(path, F_OK) == 0)
        return path;
    return native;
}

bool IsOffline(const std::string &dataDir, const std::string &absPath) {
    ServerState state;
    if (LoadServerState(dataDir, &state) != NOERROR) return false;
    return state.offline.count(absPath) != 0;
}

DirLock::DirLock(const std::string &dataDir)
    : fd_(open(dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    // Best effort: without the lock the model still works for one writer.
    if (fd_.valid()) {
        while (flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

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
