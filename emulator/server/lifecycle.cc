// The server model's hooks into the runtime's start and stop.
#include <sys/stat.h>

#include "emulator.h"
#include "server/model.h"
#include "server/server_hooks.h"

namespace emu {

// After a full restore the control file is gone and notes.ini asks for it to
// be recreated: rebuild it from the extents before anything logs. notes.ini
// itself is left alone; the setting is the administrator's to take back.
STATUS OnRuntimeStart() {
    CloseAllDatabases();
    ResetArchiving();
    LogConfig cfg;
    if (LoadLogConfig(&cfg) != NOERROR || !cfg.logging || !cfg.recreateLogctrl) return NOERROR;
    DirLock lock(cfg.dataDir);
    mkdir(cfg.logDir.c_str(), 0755);  // a restore may not have brought the folder back
    LogControl ctl;
    bool rebuilt = false;
    STATUS st = LoadControl(cfg, &ctl, &rebuilt);
    if (st == EMU_ERR_LOGCTRL_CORRUPT) {
        st = RebuildControl(cfg, &ctl);
        rebuilt = true;
    }
    if (st != NOERROR) return st;
    return rebuilt ? SaveControl(cfg, ctl) : NOERROR;
}

void OnRuntimeStop() {
    CloseAllDatabases();
    ResetArchiving();
}

}  // namespace emu
