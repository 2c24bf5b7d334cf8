// Opening databases: NSFDbOpen, NSFDbClose, NSFDbGetLogInfo. A handle is a
// small integer naming a slot of the table below, valid until closed.
#include "server/database.h"

#include <string>
#include <vector>

#include "formats/dbfile.h"
#include "runtime/fault.h"
#include "runtime/hooks.h"
#include "runtime/messages.h"
#include "runtime/runtime.h"
#include "server/state.h"

namespace {

struct OpenDb {
    bool used = false;
    std::string path;
    emu::DbHeader header;  // callers only ask for log info
};

constexpr size_t kMaxOpen = 256;
std::vector<OpenDb> g_open;

STATUS Open(const char *pathName, DBHANDLE *rethDB) {
    STATUS st = emu::CheckCall("NSFDbOpen");
    if (st != NOERROR) return st;
    if (pathName == nullptr || rethDB == nullptr) return EMU_ERR_BAD_ARGUMENT;
    *rethDB = 0;
    std::string path = emu::ResolveDbPath(emu::DataDir(), pathName);
    if (emu::IsOffline(emu::DataDir(), path)) return EMU_ERR_DB_OFFLINE;
    // The whole file is checked, a note at a time, so a damaged database is
    // refused here as a server refuses to open one.
    emu::DbHeader db;
    st = emu::CheckDb(path, &db);
    if (st != NOERROR) return st;
    size_t slot = 0;
    while (slot < g_open.size() && g_open[slot].used) slot++;
    if (slot == kMaxOpen) return EMU_ERR_TOO_MANY_OPEN;
    if (slot == g_open.size()) g_open.emplace_back();
    g_open[slot].used = true;
    g_open[slot].path = path;
    g_open[slot].header = db;
    *rethDB = static_cast<DBHANDLE>(slot + 1);
    return NOERROR;
}

bool Valid(DBHANDLE hDB) { return hDB != 0 && hDB <= g_open.size() && g_open[hDB - 1].used; }

}  // namespace

namespace emu {

// A handle still open when the runtime stops is a leak in the caller; the
// tests ask for a report of each before the table is emptied.
void CloseAllDatabases() {
    for (size_t i = 0; i < g_open.size(); i++)
        if (g_open[i].used) ReportOpenHandle(static_cast<unsigned>(i + 1), g_open[i].path);
    g_open.clear();
}

}  // namespace emu

extern "C" {

STATUS NSFDbOpen(const char *pathName, DBHANDLE *rethDB) {
    STATUS st = Open(pathName, rethDB);
    emu::LogCall("NSFDbOpen", {"path=" + emu::EscapeBytes(pathName ? pathName : ""),
                               "status=" + std::to_string(st),
                               "handle=" + std::to_string(st == NOERROR ? *rethDB : 0)});
    return st;
}

// A failed close still releases the handle, as close(2) releases a
// descriptor: the caller has nothing left to retry or to leak. So an
// injected fault does not stop it here, as emu::CheckCall would.
STATUS NSFDbClose(DBHANDLE hDB) {
    STATUS st = NOERROR;
    bool injected = emu::InjectedFault("NSFDbClose", &st);
    if (!emu::Started()) {
        st = injected ? st : STATUS(EMU_ERR_NOT_STARTED);
    } else if (!Valid(hDB)) {
        st = injected ? st : STATUS(EMU_ERR_BAD_HANDLE);
    } else {
        g_open[hDB - 1] = OpenDb();
    }
    emu::LogCall("NSFDbClose", {"handle=" + std::to_string(hDB), "status=" + std::to_string(st)});
    return st;
}

STATUS NSFDbGetLogInfo(DBHANDLE hDB, DWORD flags, BOOL *logged, UNID *logID, UNID *dbIID,
                       DWORD *logExtent) {
    STATUS st = emu::CheckCall("NSFDbGetLogInfo");
    if (st != NOERROR) return st;
    (void)flags;  // no flag is defined; 0 is what callers pass
    if (!Valid(hDB)) return EMU_ERR_BAD_HANDLE;
    const emu::DbHeader &db = g_open[hDB - 1].header;
    if (logged) *logged = db.logged ? TRUE : FALSE;
    if (logID) *logID = db.logId;
    if (dbIID) *dbIID = db.instanceId;
    if (logExtent) *logExtent = db.lastExtent;
    return NOERROR;
}

}  // extern "C"
