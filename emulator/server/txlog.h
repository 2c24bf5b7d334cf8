// The server's transaction log: what notes.ini says about it, its control
// state (the log control file, or that state rebuilt from the extents when
// the file is gone), and the server's writes to it.
#ifndef NOTESEMU_SERVER_TXLOG_H
#define NOTESEMU_SERVER_TXLOG_H

#include <stdint.h>

#include <string>

#include "formats/extent.h"
#include "formats/log_control.h"
#include "notesapi/notesapi.h"

namespace emu {

constexpr uint32_t kDefaultExtentRecords = 4;

// What the server's notes.ini says about logging.
struct LogConfig {
    std::string dataDir;
    std::string logDir;        // TRANSLOG_Path made absolute
    bool logging = false;      // TRANSLOG_Status=1
    long style = 0;            // TRANSLOG_Style, passed through as it is
    uint32_t extentRecords = kDefaultExtentRecords;  // NOTESEMU_Extent_Records
    bool recreateLogctrl = false;
};

// TRANSLOG_Status=1, and TRANSLOG_Style as a number, of the loaded notes.ini.
bool LoggingOn();
long LogStyle();
// The whole configuration; EMU_ERR_NO_LOG_DIR without TRANSLOG_Path.
STATUS LoadLogConfig(LogConfig *cfg);

// The control file, or when it is missing the state rebuilt from the
// extents (not written). *rebuilt tells which.
STATUS LoadControl(const LogConfig &cfg, LogControl *ctl, bool *rebuilt = nullptr);
// Rebuilds from the extents alone: log ID, current extent and next number
// from the highest extent (its first number plus its records); nothing
// archived.
STATUS RebuildControl(const LogConfig &cfg, LogControl *ctl);
STATUS SaveControl(const LogConfig &cfg, const LogControl &ctl);

// A new log: folder, control file with a fresh log ID, empty extent 1.
STATUS CreateLog(const LogConfig &cfg, LogControl *ctl);
// Appends one record (its seq is assigned here) to the current extent, and
// moves to a new extent when that one is full. *extent gets the extent number.
STATUS AppendRecord(const LogConfig &cfg, LogRecord *rec, uint32_t *extent);
// Closes the current extent and starts the next one.
STATUS RollOver(const LogConfig &cfg, uint32_t *newCurrent);

}  // namespace emu

#endif
