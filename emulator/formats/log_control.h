// The log control file nlogctrl.lfh: the log ID, the extent being filled,
// the next sequence number and the extents archived, checksummed as a
// whole. Layout in docs/emulator.md.
#ifndef NOTESEMU_FORMATS_LOG_CONTROL_H
#define NOTESEMU_FORMATS_LOG_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>

#include "notesapi/notesapi.h"

namespace emu {

constexpr const char *kLogControlName = "nlogctrl.lfh";

struct LogControl {
    UNID logId{};
    uint32_t current = 1;   // extent being filled
    uint64_t nextSeq = 1;
    std::set<uint32_t> archived;
};

std::string ControlPath(const std::string &logDir);
std::string EncodeControl(const LogControl &ctl);
// 0 or EMU_ERR_LOGCTRL_CORRUPT.
STATUS DecodeControl(const void *data, size_t size, LogControl *ctl);

}  // namespace emu

#endif
