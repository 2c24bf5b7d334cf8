// The transaction log: extents S%07u.TXN of checksummed change records, and
// the log control file nlogctrl.lfh (log ID, current extent, next sequence
// number, archived extents). Layouts in docs/emulator.md.
#ifndef NOTESEMU_TXLOG_H
#define NOTESEMU_TXLOG_H

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "notesapi/notesapi.h"

namespace emu {

struct LogRecord {
    uint64_t seq = 0;   // global, +1 per record across all databases
    int64_t time = 0;   // hundredths of a second since the epoch, GMT
    UNID dbIid{};       // instance ID of the database changed
    uint32_t noteId = 0;
    uint8_t action = 0; // RECOVER_ACTION_*: update, addition, deletion, undo
    std::string user;
    std::string text;
};

struct Extent {
    UNID logId{};
    uint32_t number = 0;
    // The sequence number its first record has (or gets): one past the last
    // record of the extent before. It lets the extents alone show a lost or
    // cut extent once the log control file is gone.
    uint64_t firstSeq = 1;
    std::vector<LogRecord> records;
};

struct LogControl {
    UNID logId{};
    uint32_t current = 1;   // extent being filled
    uint64_t nextSeq = 1;
    std::set<uint32_t> archived;
};

// What the server's notes.ini says about logging.
struct LogConfig {
    std::string dataDir;
    std::string logDir;        // TRANSLOG_Path made absolute
    bool logging = false;      // TRANSLOG_Status=1
    long style = 0;            // TRANSLOG_Style, passed through as it is
    uint32_t extentRecords = 4;  // NOTESEMU_Extent_Records
    bool recreateLogctrl = false;
};

constexpr const char *kLogControlName = "nlogctrl.lfh";
constexpr uint32_t kDefaultExtentRecords = 4;
constexpr int64_t kMaxExtentSize = int64_t(64) << 20;

// From the loaded notes.ini (emu::DataDir / emu::Setting).
STATUS LoadLogConfig(LogConfig *cfg);

std::string ExtentName(uint32_t number);
// True for "S" + at least seven digits + ".TXN" naming a number above 0.
bool ParseExtentName(const std::string &name, uint32_t *number);
std::string ExtentPath(const LogConfig &cfg, uint32_t number);
std::string ControlPath(const LogConfig &cfg);

std::string EncodeExtentHeader(const UNID &logId, uint32_t number, uint64_t firstSeq);
std::string EncodeRecord(const LogRecord &rec);
// 0 or EMU_ERR_LOG_CORRUPT: bad header, a record that fails its checksum,
// sequence numbers that do not run on by one from the header's first one,
// or a torn last record.
STATUS DecodeExtent(const void *data, size_t size, Extent *ext);
STATUS ReadExtent(const LogConfig &cfg, uint32_t number, Extent *ext);

std::string EncodeControl(const LogControl &ctl);
STATUS DecodeControl(const void *data, size_t size, LogControl *ctl);

// Extent numbers present in the log folder, ascending. 0 or errno.
int ListExtents(const std::string &logDir, std::vector<uint32_t> *numbers);

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
