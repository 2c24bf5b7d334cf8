// Starting and stopping: NotesInitExtended reads notes.ini (the runtime),
// then readies the server model; NotesTerm undoes both.
#include <sys/stat.h>

#include "runtime/fault.h"
#include "runtime/messages.h"
#include "runtime/runtime.h"
#include "server/archive.h"
#include "server/database.h"
#include "server/state.h"
#include "server/txlog.h"

namespace {

// After a full restore the control file is gone and notes.ini asks for it to
// be recreated: rebuild it from the extents before anything logs. notes.ini
// itself is left alone; the setting is the administrator's to take back.
STATUS StartServer() {
    emu::CloseAllDatabases();
    emu::ResetArchiving();
    emu::LogConfig cfg;
    if (emu::LoadLogConfig(&cfg) != NOERROR || !cfg.logging || !cfg.recreateLogctrl) return NOERROR;
    emu::DirLock lock(cfg.dataDir);
    mkdir(cfg.logDir.c_str(), 0755);  // a restore may not have brought the folder back
    emu::LogControl ctl;
    bool rebuilt = false;
    STATUS st = emu::LoadControl(cfg, &ctl, &rebuilt);
    if (st == EMU_ERR_LOGCTRL_CORRUPT) {
        st = emu::RebuildControl(cfg, &ctl);
        rebuilt = true;
    }
    if (st != NOERROR) return st;
    return rebuilt ? emu::SaveControl(cfg, ctl) : NOERROR;
}

void StopServer() {
    emu::CloseAllDatabases();
    emu::ResetArchiving();
}

}  // namespace

extern "C" {

STATUS NotesInitExtended(int argc, char **argv) {
    STATUS st;
    if (emu::InjectedFault("NotesInitExtended", &st)) return st;
    st = emu::StartRuntime(argc, argv);
    if (st != NOERROR) return st;
    st = StartServer();
    if (st != NOERROR) emu::StopRuntime();  // a failed start leaves it stopped
    return st;
}

void NotesTerm(void) {
    if (emu::Started()) StopServer();
    emu::StopRuntime();
}

}  // extern "C"
