// The building blocks of every file layout: CRC-32, little-endian fields
// and UNIDs.
#ifndef NOTESEMU_FORMATS_CODEC_H
#define NOTESEMU_FORMATS_CODEC_H

#include <stddef.h>
#include <stdint.h>

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
    // Appends the CRC-32 of everything written so far and hands the bytes
    // over: the checksum that closes a header or a whole file.
    std::string Sealed();

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
    // Reads the magic and version a file of ours begins with; false when
    // either is not the one given.
    bool Begins(std::string_view magic, uint32_t version);
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

// True when the last four of the size bytes are the CRC-32 of those before
// them, as Writer::Sealed wrote them.
bool SealIntact(const void *data, size_t size);

UNID RandomUnid();
bool UnidIsZero(const UNID &u);
bool UnidEqual(const UNID &a, const UNID &b);
std::string UnidHex(const UNID &u);  // 32 hex digits, word by word

}  // namespace emu

#endif
