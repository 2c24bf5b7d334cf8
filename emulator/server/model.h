// The running server's side of the model: its state file (running or not,
// which databases are offline), database path resolution, and the server
// writing a change (log first, then the database).
#ifndef NOTESEMU_MODEL_H
#define NOTESEMU_MODEL_H

#include <stdint.h>

#include <set>
#include <string>

#include "formats/dbfile.h"
#include "runtime/files.h"
#include "server/txlog.h"

namespace emu {

constexpr const char *kStateFileName = ".notesemu-server";
constexpr const char *kDirectoryDb = "names.nsf";

struct ServerState {
    bool running = false;
    std::set<std::string> offline;  // absolute database paths
};

STATUS LoadServerState(const std::string &dataDir, ServerState *state);
STATUS SaveServerState(const std::string &dataDir, const ServerState &state);

// A database named the way the server takes names: "" is the directory
// database names.nsf, a relative path is relative to the data directory.
// The result is absolute, with symbolic links resolved when it exists.
std::string ResolveDbPath(const std::string &dataDir, const std::string &name);
// A path handed to the API, in LMBCS. A name that only exists untranslated
// (a native name passed as it is) is still found.
std::string ApiPath(const char *path);
bool IsOffline(const std::string &dataDir, const std::string &absPath);

// Serialises the server's writers (the tool, archiving) on the data folder
// itself, so no extra file appears in the log folder that agents copy.
class DirLock {
public:
    explicit DirLock(const std::string &dataDir);
    DirLock(const DirLock &) = delete;
    DirLock &operator=(const DirLock &) = delete;

private:
    Fd fd_;
};

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
