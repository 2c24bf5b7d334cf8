// A transaction-log extent S%07u.TXN: a checksummed header (log ID, the
// extent's number, the sequence number of its first record) and then the
// change records, each checksummed. Layout in docs/emulator.md.
#ifndef NOTESEMU_FORMATS_EXTENT_H
#define NOTESEMU_FORMATS_EXTENT_H

#include <stddef.h>
#include <stdint.h>

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

// An extent file larger than this is damaged, not read.
constexpr int64_t kMaxExtentSize = int64_t(64) << 20;

// "S" + at least seven digits + ".TXN"; ParseExtentName is true only for
// the name ExtentName gives a number above 0.
std::string ExtentName(uint32_t number);
bool ParseExtentName(const std::string &name, uint32_t *number);
std::string ExtentPath(const std::string &logDir, uint32_t number);
// Extent numbers present in the log folder, ascending. 0 or errno.
int ListExtents(const std::string &logDir, std::vector<uint32_t> *numbers);

std::string EncodeExtentHeader(const UNID &logId, uint32_t number, uint64_t firstSeq);
std::string EncodeRecord(const LogRecord &rec);
// 0 or EMU_ERR_LOG_CORRUPT: bad header, a record that fails its checksum,
// sequence numbers that do not run on by one from the header's first one,
// or a torn last record.
STATUS DecodeExtent(const void *data, size_t size, Extent *ext);

// Reads and checks an extent of the log folder; one whose header names
// another number is damaged too.
STATUS ReadExtent(const std::string &logDir, uint32_t number, Extent *ext);
// A new extent holding its header only, synced; one already there is
// EMU_ERR_LOG_CORRUPT (the log's state disagrees with its folder).
STATUS CreateExtent(const std::string &logDir, const UNID &logId, uint32_t number,
                    uint64_t firstSeq);

}  // namespace emu

#endif
