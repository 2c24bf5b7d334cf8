#include "dbfile.h"

#include <errno.h>

#include "codec.h"
#include "status.h"

namespace emu {

namespace {

constexpr char kMagic[8] = {'N', 'E', 'M', 'U', 'N', 'S', 'F', '1'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kFlagLogged = 1;
constexpr uint32_t kNoteDeleted = 1;
// magic, version, flags, three UNIDs, lastSeq, lastTime, lastExtent, count, crc
constexpr size_t kHeaderSize = 8 + 4 + 4 + 16 * 3 + 8 + 8 + 4 + 4 + 4;
// Limits keep a damaged length field from asking for gigabytes.
constexpr uint32_t kMaxUser = 0xFFFF;
constexpr uint32_t kMaxText = 16u << 20;

}  // namespace

std::string EncodeDb(const DbFile &db) {
    Writer w;
    w.Bytes(std::string_view(kMagic, sizeof kMagic));
    w.U32(kVersion);
    w.U32(db.logged ? kFlagLogged : 0);
    w.Unid(db.instanceId);
    w.Unid(db.replicaId);
    w.Unid(db.logId);
    w.U64(db.lastSeq);
    w.I64(db.lastTime);
    w.U32(db.lastExtent);
    w.U32(static_cast<uint32_t>(db.notes.size()));
    w.U32(Crc32(w.str().data(), w.str().size()));
    for (const auto &entry : db.notes) {
        const Note &n = entry.second;
        size_t start = w.str().size();
        w.U32(entry.first);
        w.U32(n.deleted ? kNoteDeleted : 0);
        w.I64(n.modified);
        w.U16(static_cast<uint16_t>(n.user.size()));
        w.U32(static_cast<uint32_t>(n.text.size()));
        w.Bytes(n.user);
        w.Bytes(n.text);
        w.U32(Crc32(w.str().data() + start, w.str().size() - start));
    }
    return std::move(w.str());
}

STATUS DecodeDb(const void *data, size_t size, DbFile *out) {
    Reader r(data, size);
    std::string magic = r.Bytes(sizeof kMagic);
    if (!r.ok() || magic != std::string_view(kMagic, sizeof kMagic)) return EMU_ERR_NOT_A_DATABASE;
    if (size < kHeaderSize) return EMU_ERR_DB_CORRUPT;
    if (Crc32(data, kHeaderSize - 4) != Reader(r.at(kHeaderSize - 4), 4).U32())
        return EMU_ERR_DB_CORRUPT;
    DbFile db;
    if (r.U32() != kVersion) return EMU_ERR_DB_CORRUPT;
    uint32_t flags = r.U32();
    if ((flags & ~kFlagLogged) != 0) return EMU_ERR_DB_CORRUPT;
    db.logged = (flags & kFlagLogged) != 0;
    db.instanceId = r.Unid();
    db.replicaId = r.Unid();
    db.logId = r.Unid();
    db.lastSeq = r.U64();
    db.lastTime = r.I64();
    db.lastExtent = r.U32();
    uint32_t count = r.U32();
    r.U32();  // header checksum, checked above
    for (uint32_t i = 0; i < count; i++) {
        size_t start = r.pos();
        uint32_t id = r.U32();
        uint32_t nflags = r.U32();
        Note n;
        n.modified = r.I64();
        uint32_t userLen = r.U16();
        uint32_t textLen = r.U32();
        if (!r.ok() || userLen > kMaxUser || textLen > kMaxText || textLen > r.left())
            return EMU_ERR_DB_CORRUPT;
        n.user = r.Bytes(userLen);
        n.text = r.Bytes(textLen);
        size_t end = r.pos();
        uint32_t crc = r.U32();
        if (!r.ok() || Crc32(r.at(start), end - start) != crc) return EMU_ERR_DB_CORRUPT;
        if ((nflags & ~kNoteDeleted) != 0 || id == 0) return EMU_ERR_DB_CORRUPT;
        n.deleted = (nflags & kNoteDeleted) != 0;
        // Notes are written in ascending ID order; anything else is damage.
        if (!db.notes.empty() && db.notes.rbegin()->first >= id) return EMU_ERR_DB_CORRUPT;
        db.notes.emplace_hint(db.notes.end(), id, std::move(n));
    }
    if (r.left() != 0) return EMU_ERR_DB_CORRUPT;  // trailing bytes: not what we wrote
    *out = std::move(db);
    return NOERROR;
}

STATUS ReadDb(const std::string &path, DbFile *db) {
    std::string bytes;
    int err = ReadWholeFile(path, &bytes, kMaxDbFileSize);
    if (err == EFBIG) return EMU_ERR_DB_CORRUPT;
    if (err == EISDIR) return EMU_ERR_NOT_A_DATABASE;
    if (err != 0) return FileStatus(err);
    return DecodeDb(bytes.data(), bytes.size(), db);
}

STATUS WriteDb(const std::string &path, const DbFile &db) {
    return FileStatus(WriteFileAtomic(path, EncodeDb(db)));
}

size_t LiveNoteCount(const DbFile &db) {
    size_t n = 0;
    for (const auto &entry : db.notes) n += entry.second.deleted ? 0 : 1;
    return n;
}

}  // namespace emu
