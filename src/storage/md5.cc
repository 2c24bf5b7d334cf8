// MD5 after RFC 1321: 64-byte blocks, little-endian words, the message
// padded with 0x80, zeros and its length in bits. The 64 steps' constants
// are RFC 1321's T[i], the integer part of 2^32 * |sin(i)|.
#include "storage/md5.h"

namespace nsfmend {
namespace {

inline uint32_t rotl(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// The four round functions, each as one step: a = b + ((a + f(b, c, d) +
// word + constant) <<< shift). Written out step by step below, as the
// compiler then keeps the state in registers.
inline void stepF(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, unsigned s) {
    a = b + rotl(a + (d ^ (b & (c ^ d))) + x + t, s);
}
inline void stepG(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, unsigned s) {
    a = b + rotl(a + (c ^ (d & (b ^ c))) + x + t, s);
}
inline void stepH(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, unsigned s) {
    a = b + rotl(a + (b ^ c ^ d) + x + t, s);
}
inline void stepI(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, unsigned s) {
    a = b + rotl(a + (c ^ (b | ~d)) + x + t, s);
}

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::block(const unsigned char *p) {
    uint32_t m[16];
    for (size_t i = 0; i < 16; ++i)
        m[i] = (uint32_t)p[4 * i] | (uint32_t)p[4 * i + 1] << 8 | (uint32_t)p[4 * i + 2] << 16 |
               (uint32_t)p[4 * i + 3] << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    stepF(a, b, c, d, m[0], 0xd76aa478, 7);
    stepF(d, a, b, c, m[1], 0xe8c7b756, 12);
    stepF(c, d, a, b, m[2], 0x242070db, 17);
    stepF(b, c, d, a, m[3], 0xc1bdceee, 22);
    stepF(a, b, c, d, m[4], 0xf57c0faf, 7);
    stepF(d, a, b, c, m[5], 0x4787c62a, 12);
    stepF(c, d, a, b, m[6], 0xa8304613, 17);
    stepF(b, c, d, a, m[7], 0xfd469501, 22);
    stepF(a, b, c, d, m[8], 0x698098d8, 7);
    stepF(d, a, b, c, m[9], 0x8b44f7af, 12);
    stepF(c, d, a, b, m[10], 0xffff5bb1, 17);
    stepF(b, c, d, a, m[11], 0x895cd7be, 22);
    stepF(a, b, c, d, m[12], 0x6b901122, 7);
    stepF(d, a, b, c, m[13], 0xfd987193, 12);
    stepF(c, d, a, b, m[14], 0xa679438e, 17);
    stepF(b, c, d, a, m[15], 0x49b40821, 22);
    stepG(a, b, c, d, m[1], 0xf61e2562, 5);
    stepG(d, a, b, c, m[6], 0xc040b340, 9);
    stepG(c, d, a, b, m[11], 0x265e5a51, 14);
    stepG(b, c, d, a, m[0], 0xe9b6c7aa, 20);
    stepG(a, b, c, d, m[5], 0xd62f105d, 5);
    stepG(d, a, b, c, m[10], 0x02441453, 9);
    stepG(c, d, a, b, m[15], 0xd8a1e681, 14);
    stepG(b, c, d, a, m[4], 0xe7d3fbc8, 20);
    stepG(a, b, c, d, m[9], 0x21e1cde6, 5);
    stepG(d, a, b, c, m[14], 0xc33707d6, 9);
    stepG(c, d, a, b, m[3], 0xf4d50d87, 14);
    stepG(b, c, d, a, m[8], 0x455a14ed, 20);
    stepG(a, b, c, d, m[13], 0xa9e3e905, 5);
    stepG(d, a, b, c, m[2], 0xfcefa3f8, 9);
    stepG(c, d, a, b, m[7], 0x676f02d9, 14);
    stepG(b, c, d, a, m[12], 0x8d2a4c8a, 20);
    stepH(a, b, c, d, m[5], 0xfffa3942, 4);
    stepH(d, a, b, c, m[8], 0x8771f681, 11);
    stepH(c, d, a, b, m[11], 0x6d9d6122, 16);
    stepH(b, c, d, a, m[14], 0xfde5380c, 23);
    stepH(a, b, c, d, m[1], 0xa4beea44, 4);
    stepH(d, a, b, c, m[4], 0x4bdecfa9, 11);
    stepH(c, d, a, b, m[7], 0xf6bb4b60, 16);
    stepH(b, c, d, a, m[10], 0xbebfbc70, 23);
    stepH(a, b, c, d, m[13], 0x289b7ec6, 4);
    stepH(d, a, b, c, m[0], 0xeaa127fa, 11);
    stepH(c, d, a, b, m[3], 0xd4ef3085, 16);
    stepH(b, c, d, a, m[6], 0x04881d05, 23);
    stepH(a, b, c, d, m[9], 0xd9d4d039, 4);
    stepH(d, a, b, c, m[12], 0xe6db99e5, 11);
    stepH(c, d, a, b, m[15], 0x1fa27cf8, 16);
    stepH(b, c, d, a, m[2], 0xc4ac5665, 23);
    stepI(a, b, c, d, m[0], 0xf4292244, 6);
    stepI(d, a, b, c, m[7], 0x432aff97, 10);
    stepI(c, d, a, b, m[14], 0xab9423a7, 15);
    stepI(b, c, d, a, m[5], 0xfc93a039, 21);
    stepI(a, b, c, d, m[12], 0x655b59c3, 6);
    stepI(d, a, b, c, m[3], 0x8f0ccc92, 10);
    stepI(c, d, a, b, m[10], 0xffeff47d, 15);
    stepI(b, c, d, a, m[1], 0x85845dd1, 21);
    stepI(a, b, c, d, m[8], 0x6fa87e4f, 6);
    stepI(d, a, b, c, m[15], 0xfe2ce6e0, 10);
    stepI(c, d, a, b, m[6], 0xa3014314, 15);
    stepI(b, c, d, a, m[13], 0x4e0811a1, 21);
    stepI(a, b, c, d, m[4], 0xf7537e82, 6);
    stepI(d, a, b, c, m[11], 0xbd3af235, 10);
    stepI(c, d, a, b, m[2], 0x2ad7d2bb, 15);
    stepI(b, c, d, a, m[9], 0xeb86d391, 21);
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::update(const void *data, size_t size) {
    feed_.update(data, size, [this](const unsigned char *p, size_t n) { blocks(p, n); });
}

std::string Md5::digest() const {
    Md5 last = *this;  // padding goes into a copy: this one may take more
    last.feed_.finish(false, [&last](const unsigned char *p, size_t n) { last.blocks(p, n); });
    std::string out;
    for (uint32_t word : last.state_)
        for (int shift = 0; shift < 32; shift += 8) out += (char)(unsigned char)(word >> shift);
    return out;
}

std::string base64(std::string_view bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        uint32_t group = (uint32_t)(unsigned char)bytes[i] << 16;
        if (left > 1) group |= (uint32_t)(unsigned char)bytes[i + 1] << 8;
        if (left > 2) group |= (uint32_t)(unsigned char)bytes[i + 2];
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        out += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return out;
}

}  // namespace nsfmend
