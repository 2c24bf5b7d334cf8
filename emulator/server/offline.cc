// Taking a database offline and bringing it back, as a running server does
// while its file is replaced. The offline set lives in the server's state
// file so that every process (the tool, the program) sees the same server.
#include <string>

#include "formats/dbfile.h"
#include "runtime/hooks.h"
#include "runtime/messages.h"
#include "runtime/runtime.h"
#include "server/state.h"

namespace emu {

STATUS ChangeOffline(const std::string &dataDir, const std::string &path, bool takeOffline) {
    DirLock lock(dataDir);
    ServerState state;
    STATUS st = LoadServerState(dataDir, &state);
    if (st != NOERROR) return st;
    // No running server holds the file, so there is nothing to take offline.
    if (!state.running) return EMU_DB_NOT_IN_USE;
    bool offline = state.offline.count(path) != 0;
    if (takeOffline && offline) return EMU_ERR_DB_ALREADY_OFFLINE;
    if (!takeOffline && !offline) return EMU_ERR_DB_ALREADY_ONLINE;
    // Taking offline needs a database there; coming online needs the file
    // that was put in its place to be a sound database, or it stays offline.
    st = CheckDb(path, nullptr);
    if (st != NOERROR) return st;
    if (takeOffline) state.offline.insert(path);
    else state.offline.erase(path);
    return SaveServerState(dataDir, state);
}

}  // namespace emu

namespace {

STATUS ChangeOffline(const char *dbPath, bool takeOffline) {
    if (dbPath == nullptr || dbPath[0] == '\0') return EMU_ERR_BAD_ARGUMENT;
    const std::string &dataDir = emu::DataDir();
    return emu::ChangeOffline(dataDir, emu::ResolveDbPath(dataDir, emu::ApiPath(dbPath)),
                              takeOffline);
}

// The path's bytes as passed, and the database file they named.
void LogChange(const char *call, const char *dbPath, STATUS st) {
    if (!emu::CallLogOn()) return;
    std::string file = dbPath != nullptr && emu::Started()
                           ? emu::ResolveDbPath(emu::DataDir(), emu::ApiPath(dbPath))
                           : std::string();
    emu::LogCall(call, {"path=" + emu::EscapeBytes(dbPath ? dbPath : ""), "file=" + file,
                        "status=" + std::to_string(st)});
}

}  // namespace

extern "C" {

// The wait time and options are accepted and not used: the model has no
// users to wait for.
STATUS NSFTakeDatabaseOffline(char *dbPath, DWORD waitTime, DWORD options) {
    STATUS st = emu::CheckCall("NSFTakeDatabaseOffline");
    if (st == NOERROR) st = ChangeOffline(dbPath, true);
    (void)waitTime;
    (void)options;
    LogChange("NSFTakeDatabaseOffline", dbPath, st);
    return st;
}

STATUS NSFBringDatabaseOnline(char *dbPath, DWORD options) {
    STATUS st = emu::CheckCall("NSFBringDatabaseOnline");
    if (st == NOERROR) st = ChangeOffline(dbPath, false);
    (void)options;
    LogChange("NSFBringDatabaseOnline", dbPath, st);
    return st;
}

}  // extern "C"
