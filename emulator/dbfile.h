// The emulated database file (.nsf, .box): a checksummed header and the
// notes, each note checksummed too. Layout in docs/emulator.md.
#ifndef NOTESEMU_DBFILE_H
#define NOTESEMU_DBFILE_H

#include <stdint.h>

#include <map>
#include <string>

#include "notesapi/notesapi.h"

namespace emu {

struct Note {
    int64_t modified = 0;  // hundredths of a second since the epoch, GMT
    std::string user;
    std::string text;
    bool deleted = false;
};

struct DbFile {
    UNID instanceId{};
    UNID replicaId{};
    UNID logId{};
    bool logged = false;
    uint64_t lastSeq = 0;     // last log sequence number applied
    int64_t lastTime = 0;     // time of that change (0: none yet)
    uint32_t lastExtent = 0;  // extent that holds it
    std::map<uint32_t, Note> notes;  // by note ID, deleted ones kept as stubs
};

// A file bigger than this is refused rather than read into memory.
constexpr int64_t kMaxDbFileSize = int64_t(256) << 20;

std::string EncodeDb(const DbFile &db);
// 0, EMU_ERR_NOT_A_DATABASE (wrong magic or too short for one) or
// EMU_ERR_DB_CORRUPT (a checksum, length or field is wrong).
STATUS DecodeDb(const void *data, size_t size, DbFile *db);
// With the file errors mapped to statuses.
STATUS ReadDb(const std::string &path, DbFile *db);
STATUS WriteDb(const std::string &path, const DbFile &db);

size_t LiveNoteCount(const DbFile &db);

}  // namespace emu

#endif
