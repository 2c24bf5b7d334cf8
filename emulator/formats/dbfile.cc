#include "formats/dbfile.h"

#include <errno.h>

#include "formats/codec.h"
#include "runtime/files.h"
#include "runtime/messages.h"

namespace emu {

namespace {

constexpr std::string_view kMagic("NEMUNSF1", 8);
constexpr uint32_t kVersion = 1;
constexpr uint32_t kFlagLogged = 1;
constexpr uint32_t kNoteDeleted = 1;
// magic, version, flags, three UNIDs, lastSeq, lastTime, lastExtent, count, crc
constexpr size_t kHeaderSize = 8 + 4 + 4 + 16 * 3 + 8 + 8 + 4 + 4 + 4;
// note ID, flags, modified, user length, text length
constexpr size_t kNoteFixed = 4 + 4 + 8 + 2 + 4;
constexpr uint32_t kMaxUser = 0xFFFF;

// A file that ends inside what its own lengths announce is a damaged one.
STATUS ReadStatus(int err) { return err == ENODATA ? STATUS(EMU_ERR_DB_CORRUPT) : FileStatus(err); }

std::string EncodeHeader(const DbHeader &h, uint32_t count) {
    Writer w;
    w.Bytes(kMagic);
    w.U32(kVersion);
    w.U32(h.logged ? kFlagLogged : 0);
    w.Unid(h.instanceId);
    w.Unid(h.replicaId);
    w.Unid(h.logId);
    w.U64(h.lastSeq);
    w.I64(h.lastTime);
    w.U32(h.lastExtent);
    w.U32(count);
    return w.Sealed();
}

std::string EncodeNoteHead(const NoteHead &head) {
    Writer w;
    w.U32(head.id);
    w.U32(head.deleted ? kNoteDeleted : 0);
    w.I64(head.modified);
    w.U16(static_cast<uint16_t>(head.user.size()));
    w.U32(head.textLength);
    w.Bytes(head.user);
    return std::move(w.str());
}

}  // namespace

STATUS DbScanner::ReadHeader(DbHeader *out) {
    unsigned char bytes[kHeaderSize] = {};
    uint64_t size = src_->Size();
    if (size < kMagic.size()) return EMU_ERR_NOT_A_DATABASE;
    int err = src_->ReadAt(0, bytes, size < kHeaderSize ? kMagic.size() : kHeaderSize);
    if (err != 0) return ReadStatus(err);
    Reader r(bytes, kHeaderSize);
    if (r.Bytes(kMagic.size()) != kMagic) return EMU_ERR_NOT_A_DATABASE;
    if (size < kHeaderSize) return EMU_ERR_DB_CORRUPT;
    if (!SealIntact(bytes, kHeaderSize)) return EMU_ERR_DB_CORRUPT;
    DbHeader h;
    if (r.U32() != kVersion) return EMU_ERR_DB_CORRUPT;
    uint32_t flags = r.U32();
    if ((flags & ~kFlagLogged) != 0) return EMU_ERR_DB_CORRUPT;
    h.logged = (flags & kFlagLogged) != 0;
    h.instanceId = r.Unid();
    h.replicaId = r.Unid();
    h.logId = r.Unid();
    h.lastSeq = r.U64();
    h.lastTime = r.I64();
    h.lastExtent = r.U32();
    count_ = r.U32();
    pos_ = kHeaderSize;
    *out = h;
    return NOERROR;
}

STATUS DbScanner::Next(NoteHead *head, bool *done) {
    *done = false;
    if (open_) {
        STATUS st = Finish(nullptr, nullptr);
        if (st != NOERROR) return st;
    }
    uint64_t size = src_->Size();
    if (read_ == count_) {
        // Nothing may follow the last note: trailing bytes are not what we wrote.
        if (pos_ != size) return EMU_ERR_DB_CORRUPT;
        *done = true;
        return NOERROR;
    }
    unsigned char fixed[kNoteFixed];
    if (size - pos_ < kNoteFixed) return EMU_ERR_DB_CORRUPT;
    int err = src_->ReadAt(pos_, fixed, sizeof fixed);
    if (err != 0) return ReadStatus(err);
    Reader r(fixed, sizeof fixed);
    NoteHead h;
    h.id = r.U32();
    uint32_t flags = r.U32();
    h.modified = r.I64();
    uint32_t userLen = r.U16();
    h.textLength = r.U32();
    // Lengths are checked against the file before anything is allocated.
    uint64_t left = size - pos_ - kNoteFixed;
    if (userLen > kMaxUser || h.textLength > kMaxNoteText ||
        uint64_t(userLen) + h.textLength + 4 > left)
        return EMU_ERR_DB_CORRUPT;
    if ((flags & ~kNoteDeleted) != 0 || h.id == 0) return EMU_ERR_DB_CORRUPT;
    // Notes are written in ascending ID order; anything else is damage.
    if (read_ > 0 && h.id <= lastId_) return EMU_ERR_DB_CORRUPT;
    h.deleted = (flags & kNoteDeleted) != 0;
    h.user.resize(userLen);
    if (userLen > 0) {
        err = src_->ReadAt(pos_ + kNoteFixed, &h.user[0], userLen);
        if (err != 0) return ReadStatus(err);
    }
    headBytes_.assign(reinterpret_cast<const char *>(fixed), sizeof fixed);
    headBytes_ += h.user;
    textLength_ = h.textLength;
    pos_ += headBytes_.size();
    lastId_ = h.id;
    read_++;
    open_ = true;
    *head = std::move(h);
    return NOERROR;
}

STATUS DbScanner::Finish(std::string *text, ByteSink *copy) {
    if (!open_) return EMU_ERR_BAD_ARGUMENT;
    open_ = false;
    Crc32Stream crc;
    crc.Update(headBytes_.data(), headBytes_.size());
    int err = 0;
    if (copy != nullptr) err = copy->Write(headBytes_.data(), headBytes_.size());
    if (err == 0 && text != nullptr) {
        // Kept whole only when asked for, and a text is at most kMaxNoteText.
        text->resize(textLength_);
        if (textLength_ > 0) err = src_->ReadAt(pos_, &(*text)[0], textLength_);
        if (err == 0) crc.Update(text->data(), text->size());
        if (err == 0 && copy != nullptr) err = copy->Write(text->data(), text->size());
    } else if (err == 0) {
        err = StreamRange(src_, pos_, textLength_, &crc, copy);
    }
    if (err != 0) return ReadStatus(err);
    pos_ += textLength_;
    unsigned char stored[4];
    err = src_->ReadAt(pos_, stored, sizeof stored);
    if (err != 0) return ReadStatus(err);
    pos_ += sizeof stored;
    if (crc.Value() != Reader(stored, sizeof stored).U32()) return EMU_ERR_DB_CORRUPT;
    if (copy != nullptr && (err = copy->Write(stored, sizeof stored)) != 0) return FileStatus(err);
    return NOERROR;
}

STATUS DbWriter::Begin() {
    // The header's place; End writes it once the count is known.
    std::string zeros(kHeaderSize, '\0');
    return FileStatus(sink_->Write(zeros.data(), zeros.size()));
}

STATUS DbWriter::Put(const NoteHead &head, const std::string *text) {
    if (head.id == 0 || (count_ > 0 && head.id <= lastId_) || head.user.size() > kMaxUser ||
        head.textLength > kMaxNoteText)
        return EMU_ERR_BAD_ARGUMENT;
    std::string bytes = EncodeNoteHead(head);
    Crc32Stream crc;
    crc.Update(bytes.data(), bytes.size());
    int err = sink_->Write(bytes.data(), bytes.size());
    if (err == 0 && text != nullptr) {
        crc.Update(text->data(), text->size());
        err = sink_->Write(text->data(), text->size());
    } else if (err == 0) {
        crc.Zeros(head.textLength);
        err = sink_->Zeros(head.textLength);
    }
    Writer tail;
    tail.U32(crc.Value());
    if (err == 0) err = sink_->Write(tail.str().data(), tail.str().size());
    if (err != 0) return FileStatus(err);
    lastId_ = head.id;
    count_++;
    return NOERROR;
}

STATUS DbWriter::Add(uint32_t id, const Note &note) {
    if (note.text.size() > kMaxNoteText) return EMU_ERR_BAD_ARGUMENT;
    NoteHead head;
    head.id = id;
    head.deleted = note.deleted;
    head.modified = note.modified;
    head.user = note.user;
    head.textLength = static_cast<uint32_t>(note.text.size());
    return Put(head, &note.text);
}

STATUS DbWriter::AddZeros(const NoteHead &head) { return Put(head, nullptr); }

STATUS DbWriter::Copy(const NoteHead &head, DbScanner *from) {
    if (count_ > 0 && head.id <= lastId_) return EMU_ERR_BAD_ARGUMENT;
    STATUS st = from->Finish(nullptr, sink_);
    if (st != NOERROR) return st;
    lastId_ = head.id;
    count_++;
    return NOERROR;
}

STATUS DbWriter::End(const DbHeader &header) {
    std::string bytes = EncodeHeader(header, count_);
    return FileStatus(sink_->WriteAt(0, bytes.data(), bytes.size()));
}

std::string EncodeDb(const DbFile &db) {
    StringSink sink;
    DbWriter w(&sink);
    // Writing to memory fails only for a note the format cannot hold, which
    // no caller builds.
    (void)w.Begin();
    for (const auto &entry : db.notes) (void)w.Add(entry.first, entry.second);
    (void)w.End(db);
    return std::move(sink.str());
}

STATUS DecodeDb(const void *data, size_t size, DbFile *out) {
    MemorySource src(data, size);
    DbScanner scan(&src);
    DbFile db;
    STATUS st = scan.ReadHeader(&db);
    if (st != NOERROR) return st;
    for (;;) {
        NoteHead head;
        bool done;
        st = scan.Next(&head, &done);
        if (st != NOERROR) return st;
        if (done) break;
        Note n;
        n.deleted = head.deleted;
        n.modified = head.modified;
        n.user = std::move(head.user);
        st = scan.Finish(&n.text, nullptr);
        if (st != NOERROR) return st;
        db.notes.emplace_hint(db.notes.end(), head.id, std::move(n));
    }
    *out = std::move(db);
    return NOERROR;
}

size_t LiveNoteCount(const DbFile &db) {
    size_t n = 0;
    for (const auto &entry : db.notes) n += entry.second.deleted ? 0 : 1;
    return n;
}

STATUS DbFileScan::Open(const std::string &path, DbHeader *header) {
    int err = src_.Open(path);
    if (err == EISDIR) return EMU_ERR_NOT_A_DATABASE;
    if (err != 0) return FileStatus(err);
    return scan_.ReadHeader(header);
}

namespace {

// Reads the whole file, checking it; its header, its count of live notes and
// the note with `id` (0: none), each when asked for.
STATUS ScanFile(const std::string &path, DbHeader *header, uint64_t *liveNotes, uint32_t id,
                Note *note, bool *found) {
    if (found != nullptr) *found = false;
    DbFileScan file;
    DbHeader h;
    STATUS st = file.Open(path, &h);
    DbScanner &scan = *file.scanner();
    uint64_t live = 0;
    for (bool done = false; st == NOERROR && !done;) {
        NoteHead head;
        st = scan.Next(&head, &done);
        if (st != NOERROR || done) continue;
        if (!head.deleted) live++;
        if (id == 0 || head.id != id || note == nullptr) continue;
        note->deleted = head.deleted;
        note->modified = head.modified;
        note->user = std::move(head.user);
        st = scan.Finish(&note->text, nullptr);
        if (found != nullptr) *found = st == NOERROR;
    }
    if (st != NOERROR) return st;
    if (header != nullptr) *header = h;
    if (liveNotes != nullptr) *liveNotes = live;
    return NOERROR;
}

}  // namespace

STATUS FindNote(const std::string &path, uint32_t id, DbHeader *header, Note *note, bool *found) {
    return ScanFile(path, header, nullptr, id, note, found);
}

STATUS CheckDb(const std::string &path, DbHeader *header, uint64_t *liveNotes) {
    return ScanFile(path, header, liveNotes, 0, nullptr, nullptr);
}

STATUS RewriteDb(const std::string &from, const std::string &to, const DbHeader *header,
                 const std::map<uint32_t, Note> &changes) {
    DbFileScan file;
    DbHeader old;
    STATUS st = file.Open(from, &old);
    if (st != NOERROR) return st;
    DbScanner &scan = *file.scanner();
    AtomicFile out;
    int err = out.Create(to);
    if (err != 0) return FileStatus(err);
    FileSink sink(out.fd());
    DbWriter w(&sink);
    st = w.Begin();
    // Both sides ascend by note ID: a merge, one note in memory at a time.
    auto change = changes.begin();
    for (bool done = false; st == NOERROR && !done;) {
        NoteHead head;
        st = scan.Next(&head, &done);
        if (st != NOERROR) break;
        for (; change != changes.end() && (done || change->first < head.id); ++change) {
            st = w.Add(change->first, change->second);
            if (st != NOERROR) break;
        }
        if (st != NOERROR || done) continue;
        if (change != changes.end() && change->first == head.id) {
            st = scan.Finish(nullptr, nullptr);  // replaced, but still checked
            if (st == NOERROR) st = w.Add(change->first, change->second);
            ++change;
        } else {
            st = w.Copy(head, &scan);
        }
    }
    if (st == NOERROR) st = w.End(header != nullptr ? *header : old);
    if (st == NOERROR) st = FileStatus(sink.Flush());
    if (st == NOERROR) st = FileStatus(out.Commit());
    return st;
}

STATUS WriteDb(const std::string &path, const DbFile &db) {
    return FileStatus(WriteFileAtomic(path, EncodeDb(db)));
}

}  // namespace emu
