// Rolling a database file forward through the log, shared by the exported
// recovery calls and the tests that drive it with an explicit configuration.
#ifndef NOTESEMU_RECOVERY_H
#define NOTESEMU_RECOVERY_H

#include <stddef.h>

#include <string>

#include "server/txlog.h"

namespace emu {

struct ReplayStep {
    LogRecord rec;
    uint32_t extent;
};

struct RecoverResult {
    size_t replayed = 0;
    bool newInstanceId = false;
};

// Replays into the file at path (native, absolute) every logged change of
// its instance after its last applied sequence number, up to *recoveryTime
// when flags has RECOVER_TO_TIME. All or nothing: on any failure, a gap or a
// non-zero callback return the file is left as it was.
STATUS RecoverFile(const LogConfig &cfg, const std::string &path, DWORD flags,
                   TIMEDATE *recoveryTime, NOTE_CALLBACK noteCallback, void *context,
                   RecoverResult *result);

}  // namespace emu

#endif
