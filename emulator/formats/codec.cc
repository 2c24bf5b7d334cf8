#include "formats/codec.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "runtime/files.h"

namespace emu {

namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320u;  // reflected, as in zlib

// Slicing by eight: table[k][b] is the register after byte b and k zero
// bytes, so eight input bytes take eight lookups and no shifts between them.
struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? kCrcPolynomial ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; i++)
            for (int k = 1; k < 8; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

const CrcTables &Tables() {
    static const CrcTables tables;
    return tables;
}

// a * b modulo the polynomial, both in the reflected bit order (x^0 is the
// top bit).
uint32_t MultModPoly(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if (a & m) product ^= b;
        b = (b & 1) ? (b >> 1) ^ kCrcPolynomial : b >> 1;
    }
    return product;
}

}  // namespace

void Crc32Stream::Update(const void *data, size_t size) {
    const CrcTables &tb = Tables();
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint32_t c = reg_;
    while (size >= 8) {
        uint32_t lo = (p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24)) ^ c;
        uint32_t hi = p[4] | (p[5] << 8) | (p[6] << 16) | (uint32_t(p[7]) << 24);
        c = tb.t[7][lo & 0xFF] ^ tb.t[6][(lo >> 8) & 0xFF] ^ tb.t[5][(lo >> 16) & 0xFF] ^
            tb.t[4][lo >> 24] ^ tb.t[3][hi & 0xFF] ^ tb.t[2][(hi >> 8) & 0xFF] ^
            tb.t[1][(hi >> 16) & 0xFF] ^ tb.t[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size-- > 0) c = tb.t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    reg_ = c;
}

// A zero byte moves the register by multiplying it with x^8; n of them
// multiply by x^(8n), built from x^(2^k) by squaring.
void Crc32Stream::Zeros(uint64_t count) {
    uint32_t power = 1u << 23;  // x^8
    while (count != 0) {
        if (count & 1) reg_ = MultModPoly(power, reg_);
        power = MultModPoly(power, power);
        count >>= 1;
    }
}

uint32_t Crc32(const void *data, size_t size) {
    Crc32Stream crc;
    crc.Update(data, size);
    return crc.Value();
}

void Writer::U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
}
void Writer::U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
}
void Writer::U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
}
void Writer::Unid(const UNID &u) {
    for (DWORD w : u.Words) U32(w);
}
std::string Writer::Sealed() {
    U32(Crc32(out_.data(), out_.size()));
    return std::move(out_);
}

bool Reader::Take(size_t n) {
    if (!ok_ || n > size_ - pos_) {
        ok_ = false;
        return false;
    }
    return true;
}
uint8_t Reader::U8() {
    if (!Take(1)) return 0;
    return p_[pos_++];
}
uint16_t Reader::U16() {
    if (!Take(2)) return 0;
    uint16_t v = static_cast<uint16_t>(p_[pos_] | (p_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}
uint32_t Reader::U32() {
    uint32_t lo = U16();
    uint32_t hi = U16();
    return lo | (hi << 16);
}
uint64_t Reader::U64() {
    uint64_t lo = U32();
    uint64_t hi = U32();
    return lo | (hi << 32);
}
UNID Reader::Unid() {
    UNID u;
    for (DWORD &w : u.Words) w = U32();
    return u;
}
bool Reader::Begins(std::string_view magic, uint32_t version) {
    return Bytes(magic.size()) == magic && U32() == version && ok_;
}
std::string Reader::Bytes(size_t n) {
    if (!Take(n)) return std::string();
    std::string s(reinterpret_cast<const char *>(p_ + pos_), n);
    pos_ += n;
    return s;
}

bool SealIntact(const void *data, size_t size) {
    if (size < 4) return false;
    return Crc32(data, size - 4) == Reader(static_cast<const char *>(data) + size - 4, 4).U32();
}

UNID RandomUnid() {
    UNID u;
    memset(&u, 0, sizeof u);
    Fd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (fd.valid() && read(fd.get(), &u, sizeof u) == static_cast<ssize_t>(sizeof u) &&
        !UnidIsZero(u))
        return u;
    // Without /dev/urandom: time and process make it unique enough for a model.
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    static DWORD counter = 0;
    u.Words[0] = static_cast<DWORD>(ts.tv_sec);
    u.Words[1] = static_cast<DWORD>(ts.tv_nsec);
    u.Words[2] = static_cast<DWORD>(getpid());
    u.Words[3] = ++counter;
    return u;
}

bool UnidIsZero(const UNID &u) {
    return (u.Words[0] | u.Words[1] | u.Words[2] | u.Words[3]) == 0;
}

bool UnidEqual(const UNID &a, const UNID &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

std::string UnidHex(const UNID &u) {
    char buf[40];
    (void)snprintf(buf, sizeof buf, "%08X%08X%08X%08X", static_cast<unsigned>(u.Words[0]),
                   static_cast<unsigned>(u.Words[1]), static_cast<unsigned>(u.Words[2]),
                   static_cast<unsigned>(u.Words[3]));
    return buf;
}

}  // namespace emu
