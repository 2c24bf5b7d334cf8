// Byte-level helpers of the server model's files: little-endian encoding,
// CRC-32, whole-file reads, crash-safe replacement and owned descriptors.
#ifndef NOTESEMU_CODEC_H
#define NOTESEMU_CODEC_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"

namespace emu {

uint32_t Crc32(const void *data, size_t size);

// A CRC-32 computed piece by piece. Zeros(n) runs it over n zero bytes in
// O(log n) steps, so the holes of a sparse multi-gigabyte file cost nothing.
class Crc32Stream {
public:
    void Update(const void *data, size_t size);
    void Zeros(uint64_t count);
    uint32_t Value() const { return ~reg_; }

private:
    uint32_t reg_ = 0xFFFFFFFFu;
};

// Appends little-endian fields to a byte string.
class Writer {
public:
    void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);
    void I64(int64_t v) { U64(static_cast<uint64_t>(v)); }
    void Unid(const UNID &u);
    void Bytes(std::string_view b) { out_.append(b.data(), b.size()); }
    std::string &str() { return out_; }

private:
    std::string out_;
};

// Reads little-endian fields; any read past the end sets a sticky failure
// and yields zeros, so a decoder checks ok() once instead of after each field.
class Reader {
public:
    Reader(const void *data, size_t size)
        : p_(static_cast<const unsigned char *>(data)), size_(size) {}
    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    uint64_t U64();
    int64_t I64() { return static_cast<int64_t>(U64()); }
    UNID Unid();
    std::string Bytes(size_t n);
    size_t pos() const { return pos_; }
    size_t left() const { return ok_ ? size_ - pos_ : 0; }
    bool ok() const { return ok_; }
    const unsigned char *at(size_t off) const { return p_ + off; }

private:
    bool Take(size_t n);
    const unsigned char *p_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Owns a file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd();
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Close();  // 0 or errno
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }

private:
    int fd_;
};

// Reads a whole file; 0 or errno. Refuses files above maxSize with EFBIG.
int ReadWholeFile(const std::string &path, std::string *out, int64_t maxSize);

// The new version of a file, written to a temporary file in the same folder
// and renamed over the old one only once complete and synced, so a crash
// leaves either the old or the new file, never a torn one. Destroyed
// without Commit, it removes the temporary file.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    // 0 or errno. The new file gets `mode` (0 keeps the old file's mode, or
    // 0644 for a new file).
    int Create(const std::string &path, mode_t mode = 0);
    int fd() const { return fd_.get(); }
    // Mode, sync, rename, then the folder's sync; 0 or errno.
    int Commit();

private:
    std::string path_, tmp_;
    mode_t mode_ = 0644;
    Fd fd_;
};

// Replaces path with data through an AtomicFile.
int WriteFileAtomic(const std::string &path, std::string_view data, mode_t mode = 0);
// Appends data and syncs it; 0 or errno.
int AppendFileSynced(const std::string &path, std::string_view data);

// Maps an errno of a file operation to the emulator's status.
STATUS FileStatus(int err);

UNID RandomUnid();
bool UnidIsZero(const UNID &u);
bool UnidEqual(const UNID &a, const UNID &b);
std::string UnidHex(const UNID &u);  // 32 hex digits, word by word

// Path helpers (purely lexical).
bool IsAbsolute(std::string_view p);
std::string JoinPath(std::string_view dir, std::string_view name);
std::string DirName(const std::string &path);
std::string BaseName(const std::string &path);
// An absolute form of an existing path (symbolic links resolved), or the
// lexical join with the current directory when it does not exist.
std::string AbsolutePath(const std::string &path);

}  // namespace emu

#endif
