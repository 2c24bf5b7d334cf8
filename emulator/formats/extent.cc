#include "formats/extent.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "formats/codec.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/paths.h"

namespace emu {

namespace {

constexpr std::string_view kExtentMagic("NEMUTXN1", 8);
// Extents carry their first sequence number since version 2.
constexpr uint32_t kExtentVersion = 2;
// magic, version, log ID, number, first sequence number, crc
constexpr size_t kExtentHeaderSize = 8 + 4 + 16 + 4 + 8 + 4;
// seq, time, instance ID, note ID, action, user length, text length
constexpr size_t kRecordFixed = 8 + 8 + 16 + 4 + 1 + 2 + 4;
constexpr uint32_t kMaxRecord = 16u << 20;

bool ValidAction(uint8_t a) {
    return a == RECOVER_ACTION_UPDATE || a == RECOVER_ACTION_ADDITION ||
           a == RECOVER_ACTION_DELETION || a == RECOVER_ACTION_UNDO;
}

struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};

}  // namespace

std::string ExtentName(uint32_t number) {
    char buf[32];
    (void)snprintf(buf, sizeof buf, "S%07u.TXN", static_cast<unsigned>(number));
    return buf;
}

bool ParseExtentName(const std::string &name, uint32_t *number) {
    if (name.size() < 12 || name.size() > 15 || name[0] != 'S') return false;
    size_t digits = name.size() - 5;
    if (name.compare(1 + digits, 4, ".TXN") != 0) return false;
    uint64_t n = 0;
    for (size_t i = 1; i <= digits; i++) {
        if (name[i] < '0' || name[i] > '9') return false;
        n = n * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    if (n == 0 || n > 0xFFFFFFFFu || ExtentName(static_cast<uint32_t>(n)) != name) return false;
    *number = static_cast<uint32_t>(n);
    return true;
}

std::string ExtentPath(const std::string &logDir, uint32_t number) {
    return JoinPath(logDir, ExtentName(number));
}

int ListExtents(const std::string &logDir, std::vector<uint32_t> *numbers) {
    numbers->clear();
    std::unique_ptr<DIR, DirCloser> dir(opendir(logDir.c_str()));
    if (!dir) return errno;
    errno = 0;
    while (struct dirent *entry = readdir(dir.get())) {
        uint32_t n;
        if (ParseExtentName(entry->d_name, &n)) numbers->push_back(n);
    }
    if (errno != 0) return errno;
    std::sort(numbers->begin(), numbers->end());
    return 0;
}

std::string EncodeExtentHeader(const UNID &logId, uint32_t number, uint64_t firstSeq) {
    Writer w;
    w.Bytes(kExtentMagic);
    w.U32(kExtentVersion);
    w.Unid(logId);
    w.U32(number);
    w.U64(firstSeq);
    return w.Sealed();
}

std::string EncodeRecord(const LogRecord &rec) {
    Writer p;
    p.U64(rec.seq);
    p.I64(rec.time);
    p.Unid(rec.dbIid);
    p.U32(rec.noteId);
    p.U8(rec.action);
    p.U16(static_cast<uint16_t>(rec.user.size()));
    p.U32(static_cast<uint32_t>(rec.text.size()));
    p.Bytes(rec.user);
    p.Bytes(rec.text);
    Writer w;
    w.U32(static_cast<uint32_t>(p.str().size()));
    w.U32(Crc32(p.str().data(), p.str().size()));
    w.Bytes(p.str());
    return std::move(w.str());
}

STATUS DecodeExtent(const void *data, size_t size, Extent *out) {
    Reader r(data, size);
    if (size < kExtentHeaderSize || !SealIntact(data, kExtentHeaderSize) ||
        !r.Begins(kExtentMagic, kExtentVersion))
        return EMU_ERR_LOG_CORRUPT;
    Extent ext;
    ext.logId = r.Unid();
    ext.number = r.U32();
    ext.firstSeq = r.U64();
    r.U32();
    if (ext.firstSeq == 0) return EMU_ERR_LOG_CORRUPT;
    while (r.left() > 0) {
        uint32_t len = r.U32();
        uint32_t crc = r.U32();
        if (!r.ok() || len < kRecordFixed || len > kMaxRecord || len > r.left())
            return EMU_ERR_LOG_CORRUPT;
        if (Crc32(r.at(r.pos()), len) != crc) return EMU_ERR_LOG_CORRUPT;
        Reader p(r.at(r.pos()), len);
        r.Bytes(len);
        LogRecord rec;
        rec.seq = p.U64();
        rec.time = p.I64();
        rec.dbIid = p.Unid();
        rec.noteId = p.U32();
        rec.action = p.U8();
        uint32_t userLen = p.U16();
        uint32_t textLen = p.U32();
        if (static_cast<uint64_t>(userLen) + textLen != p.left()) return EMU_ERR_LOG_CORRUPT;
        rec.user = p.Bytes(userLen);
        rec.text = p.Bytes(textLen);
        if (!p.ok() || !ValidAction(rec.action) || rec.noteId == 0 || rec.seq == 0)
            return EMU_ERR_LOG_CORRUPT;
        uint64_t want = ext.records.empty() ? ext.firstSeq : ext.records.back().seq + 1;
        if (rec.seq != want) return EMU_ERR_LOG_CORRUPT;
        ext.records.push_back(std::move(rec));
    }
    *out = std::move(ext);
    return NOERROR;
}

STATUS ReadExtent(const std::string &logDir, uint32_t number, Extent *ext) {
    std::string bytes;
    int err = ReadWholeFile(ExtentPath(logDir, number), &bytes, kMaxExtentSize);
    if (err == EFBIG || err == EISDIR) return EMU_ERR_LOG_CORRUPT;
    if (err != 0) return FileStatus(err);
    STATUS st = DecodeExtent(bytes.data(), bytes.size(), ext);
    // A file renamed to another extent's name would replay the wrong records.
    if (st == NOERROR && ext->number != number) return EMU_ERR_LOG_CORRUPT;
    return st;
}

STATUS CreateExtent(const std::string &logDir, const UNID &logId, uint32_t number,
                    uint64_t firstSeq) {
    std::string path = ExtentPath(logDir, number);
    Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.valid()) return errno == EEXIST ? STATUS(EMU_ERR_LOG_CORRUPT) : FileStatus(errno);
    std::string header = EncodeExtentHeader(logId, number, firstSeq);
    int err = WriteAll(fd.get(), header.data(), header.size());
    // Only a header on disk makes an extent: one that may not be is removed,
    // so the next attempt makes it afresh instead of meeting it.
    if (err == 0 && fsync(fd.get()) != 0) err = errno;
    if (err != 0) {
        unlink(path.c_str());
        return FileStatus(err);
    }
    return FileStatus(fd.Close());
}

}  // namespace emu
