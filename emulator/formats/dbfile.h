// The emulated database file (.nsf, .box): a checksummed header and the
// notes, each note checksummed too. Layout in docs/emulator.md. Files are
// read and written front to back, a note at a time, so a database of many
// gigabytes costs no more memory than its largest note.
#ifndef NOTESEMU_FORMATS_DBFILE_H
#define NOTESEMU_FORMATS_DBFILE_H

#include <stdint.h>

#include <map>
#include <string>

#include "formats/filestream.h"
#include "notesapi/notesapi.h"

namespace emu {

struct Note {
    int64_t modified = 0;  // hundredths of a second since the epoch, GMT
    std::string user;
    std::string text;
    bool deleted = false;
};

struct DbHeader {
    UNID instanceId{};
    UNID replicaId{};
    UNID logId{};
    bool logged = false;
    uint64_t lastSeq = 0;     // last log sequence number applied
    int64_t lastTime = 0;     // time of that change (0: none yet)
    uint32_t lastExtent = 0;  // extent that holds it
};

// A database held in memory: a new one, the tests' and the fuzz target's
// samples, or (with only some notes) the changes to merge into a file.
struct DbFile : DbHeader {
    std::map<uint32_t, Note> notes;  // by note ID, deleted ones kept as stubs
};

// A note text is at most this long; a damaged length never asks for more.
constexpr uint32_t kMaxNoteText = 16u << 20;

// Reads the whole file, checking it; its header and, when asked, the count
// of live notes. File errors are mapped to statuses.
STATUS CheckDb(const std::string &path, DbHeader *header, uint64_t *liveNotes = nullptr);
// The same, and the note with this ID if the file holds one (live or a stub).
STATUS FindNote(const std::string &path, uint32_t id, DbHeader *header, Note *note, bool *found);
// Writes `to` anew from `from` (the same file or another): the header given
// (null: the one of `from`), every note of `from` with the notes of
// `changes` in place of or beside them. Through a temporary file that is
// synced and renamed over `to`; on failure `to` is untouched. A new `to`
// gets mode 0644, an existing one keeps its mode.
STATUS RewriteDb(const std::string &from, const std::string &to, const DbHeader *header,
                 const std::map<uint32_t, Note> &changes);
// A new database written whole from memory (same crash safety).
STATUS WriteDb(const std::string &path, const DbFile &db);

// A database's bytes in memory and back (WriteDb, the tests, the fuzz target).
std::string EncodeDb(const DbFile &db);
STATUS DecodeDb(const void *data, size_t size, DbFile *db);
size_t LiveNoteCount(const DbFile &db);

// Reading and writing a file a note at a time, for the operations above
// and for notesemu's show and pad.

// The note being read: everything but its text.
struct NoteHead {
    uint32_t id = 0;
    bool deleted = false;
    int64_t modified = 0;
    std::string user;
    uint32_t textLength = 0;
};

// Reads a database from any byte source, checking every checksum on the
// way. Statuses: EMU_ERR_NOT_A_DATABASE (wrong magic or too short for one),
// EMU_ERR_DB_CORRUPT (a checksum, length, order or field is wrong), or the
// source's read error.
class DbScanner {
public:
    explicit DbScanner(ByteSource *src) : src_(src) {}
    STATUS ReadHeader(DbHeader *header);
    uint32_t NoteCount() const { return count_; }
    // The next note's head; *done (and no head) after the last note, once
    // the file is known to end there.
    STATUS Next(NoteHead *head, bool *done);
    // The rest of the note Next gave: its text into *text and the whole
    // note, byte for byte, into *copy (each when not null), checksum checked.
    STATUS Finish(std::string *text, ByteSink *copy);

private:
    ByteSource *src_;
    uint64_t pos_ = 0;
    uint32_t count_ = 0, read_ = 0;
    uint32_t lastId_ = 0;
    bool open_ = false;        // Next gave a note that Finish has not read
    std::string headBytes_;    // the open note's bytes before its text
    uint32_t textLength_ = 0;
};

// A database file opened for reading: the file, its scanner, the header read.
class DbFileScan {
public:
    // 0 or a status; a folder is EMU_ERR_NOT_A_DATABASE.
    STATUS Open(const std::string &path, DbHeader *header);
    DbScanner *scanner() { return &scan_; }

private:
    FileSource src_;
    DbScanner scan_{&src_};
};

// Writes a database front to back: the header's place, the notes in
// ascending ID order, then the header itself with the count.
class DbWriter {
public:
    explicit DbWriter(ByteSink *sink) : sink_(sink) {}
    STATUS Begin();
    STATUS Add(uint32_t id, const Note &note);
    // A note whose text is head.textLength zero bytes, written as a hole
    // where the sink can (large test databases).
    STATUS AddZeros(const NoteHead &head);
    // The note the scanner has just given by Next, byte for byte.
    STATUS Copy(const NoteHead &head, DbScanner *from);
    STATUS End(const DbHeader &header);

private:
    STATUS Put(const NoteHead &head, const std::string *text);
    ByteSink *sink_;
    uint32_t count_ = 0, lastId_ = 0;
};

}  // namespace emu

#endif
