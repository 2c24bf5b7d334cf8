// The server's data directory: its state file (running or not, which
// databases are offline, shared by every process), the lock its writers
// take, and how the server names a database in it.
#ifndef NOTESEMU_SERVER_STATE_H
#define NOTESEMU_SERVER_STATE_H

#include <set>
#include <string>

#include "notesapi/notesapi.h"
#include "runtime/files.h"

namespace emu {

constexpr const char *kStateFileName = ".notesemu-server";
constexpr const char *kDirectoryDb = "names.nsf";

struct ServerState {
    bool running = false;
    std::set<std::string> offline;  // absolute database paths
    long presence = 0;  // the process that stands for the running server (server/presence.h)
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
// Takes the database at absPath offline, or brings it online, as the
// running server does (server/offline.cc): EMU_DB_NOT_IN_USE when the
// server is stopped, EMU_ERR_DB_ALREADY_OFFLINE or ..._ONLINE when it is so
// already, the database's own status when it is no sound database.
STATUS ChangeOffline(const std::string &dataDir, const std::string &absPath, bool takeOffline);

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

}  // namespace emu

#endif
