// SHA-256 after FIPS 180-4, section 6.2: 64-byte blocks, the message padded
// with 0x80, zeros and its length in bits, big-endian throughout.
#include "support/sha256.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "support/durable.h"

namespace nsfmend {
namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

// The piece a file is read in: the memory a digest takes, however large the file.
constexpr size_t kReadPiece = 1u << 20;

}  // namespace

Sha256::Sha256() { memcpy(state_, kInitial, sizeof state_); }

void Sha256::block(const unsigned char *p) {
    uint32_t w[64];
    for (size_t i = 0; i < 16; ++i)
        w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 |
               (uint32_t)p[4 * i + 2] << 8 | (uint32_t)p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                            kRound[i] + w[i];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
}

void Sha256::update(const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    length_ += size;
    if (pendingSize_ > 0) {
        const size_t take = std::min(size, sizeof pending_ - pendingSize_);
        memcpy(pending_ + pendingSize_, p, take);
        pendingSize_ += take;
        p += take;
        size -= take;
        if (pendingSize_ < sizeof pending_) return;
        block(pending_);
        pendingSize_ = 0;
    }
    for (; size >= sizeof pending_; p += sizeof pending_, size -= sizeof pending_) block(p);
    memcpy(pending_, p, size);
    pendingSize_ = size;
}

std::string Sha256::hexDigest() const {
    Sha256 last = *this;  // padding goes into a copy: this one may take more
    const uint64_t bits = length_ * 8;
    // 0x80, then zeros up to 8 bytes short of a block's end.
    unsigned char padding[64] = {0x80};
    last.update(padding, pendingSize_ < 56 ? 56 - pendingSize_ : 120 - pendingSize_);
    unsigned char lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = (unsigned char)(bits >> (56 - 8 * i));
    last.update(lengthBytes, sizeof lengthBytes);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (uint32_t word : last.state_)
        for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(word >> shift) & 0xf];
    return hex;
}

std::string sha256Hex(std::string_view text) {
    Sha256 digest;
    digest.update(text);
    return digest.hexDigest();
}

bool isHexDigest(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

MarkedSha256::MarkedSha256(std::vector<uint64_t> marks) : marks_(std::move(marks)) { restart(); }

void MarkedSha256::restart() {
    hash_ = Sha256();
    atMarks_.assign(marks_.size(), std::string());
    // A mark at 0 is the empty start of any stream.
    takeMarks();
}

void MarkedSha256::takeMarks() {
    for (size_t i = 0; i < marks_.size(); ++i)
        if (marks_[i] == hash_.length()) atMarks_[i] = hash_.hexDigest();
}

uint64_t MarkedSha256::untilNextMark(uint64_t piece) const {
    uint64_t want = piece;
    for (uint64_t mark : marks_)
        if (mark > hash_.length() && mark - hash_.length() < want) want = mark - hash_.length();
    return want;
}

void MarkedSha256::update(const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    while (size > 0) {
        // Up to the next mark, whose digest is taken there.
        const size_t take = (size_t)untilNextMark(size);
        hash_.update(p, take);
        takeMarks();
        p += take;
        size -= take;
    }
}

FileDigest MarkedSha256::result() const {
    FileDigest digest;
    digest.size = hash_.length();
    digest.whole = hash_.hexDigest();
    digest.atMarks = atMarks_;
    return digest;
}

int sha256File(int fd, const std::vector<uint64_t> &marks, FileDigest *digest) {
    *digest = FileDigest();
    digest->atMarks.assign(marks.size(), std::string());
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadPiece]);
    if (!buffer) return ENOMEM;
    MarkedSha256 hash(marks);
    for (;;) {
        size_t got = 0;
        const int rc = readAll(fd, buffer.get(), kReadPiece, &got);
        if (rc != 0) return rc;
        hash.update(buffer.get(), got);
        if (got < kReadPiece) break;
    }
    *digest = hash.result();
    return 0;
}

}  // namespace nsfmend
