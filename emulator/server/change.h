// The server writing: a new database, and one change to a database, logged
// before the database file is rewritten; and a logged change applied to a
// database, which recovery does too.
#ifndef NOTESEMU_SERVER_CHANGE_H
#define NOTESEMU_SERVER_CHANGE_H

#include <stdint.h>

#include <string>

#include "formats/dbfile.h"
#include "formats/extent.h"
#include "server/txlog.h"

namespace emu {

// A new empty database. Logged ones join the server's log at its current
// position, so recovering a backup of it starts from there.
STATUS CreateDatabase(const LogConfig &cfg, const std::string &path, bool logged, DbFile *out);

enum class ChangeKind { kPut, kDelete, kAbort };

// The server makes one change: with logging on and a logged database the
// record goes to the log before the database is rewritten. *action gets the
// logged action (update, addition, deletion or undo).
STATUS WriteChange(const LogConfig &cfg, const std::string &path, ChangeKind kind,
                   uint32_t noteId, const std::string &text, const std::string &user,
                   int64_t when, uint8_t *action);

// Applies a logged change to a database held in memory (or to the header
// and changed notes that are to be merged into a file).
void ApplyRecord(DbFile *db, const LogRecord &rec, uint32_t extent);

}  // namespace emu

#endif
