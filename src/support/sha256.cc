// SHA-256 after FIPS 180-4, section 6.2: 64-byte blocks, the message padded
// with 0x80, zeros and its length in bits, big-endian throughout.
#include "support/sha256.h"

#include <errno.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif
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

// The portable rounds, FIPS 180-4 section 6.2.2, one block.
void portableBlock(uint32_t state[8], const unsigned char *p) {
    uint32_t w[64];
    for (size_t i = 0; i < 16; ++i)
        w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 |
               (uint32_t)p[4 * i + 2] << 8 | (uint32_t)p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
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
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}


#if defined(__x86_64__) || defined(__i386__)
// The same rounds on the processor's SHA extensions, where it has them: a
// 64 MiB extent is hashed in a tenth of the time. The state is kept as
// ABEF and CDGH, as the instructions take it; each step does four rounds.
__attribute__((target("sha,sse4.1,ssse3"))) void extensionBlocks(uint32_t state[8],
                                                                  const unsigned char *p,
                                                                  size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; blocks > 0; --blocks, p += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[16];
        for (size_t i = 0; i < 16; ++i) {
            if (i < 4) {
                w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i)),
                                        byteSwap);
            } else {
                const __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(w[i - 4], w[i - 3]),
                                                  _mm_alignr_epi8(w[i - 1], w[i - 2], 4));
                w[i] = _mm_sha256msg2_epu32(sum, w[i - 1]);
            }
            __m128i message = _mm_add_epi32(
                w[i], _mm_loadu_si128(reinterpret_cast<const __m128i *>(&kRound[4 * i])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&state[0]), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&state[4]), hgfe);
}

// SHA, SSE4.1 and SSSE3, asked of the processor once.
bool processorHashes() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (__get_cpuid_max(0, nullptr) < 7) return false;
        __cpuid(1, a, b, c, d);
        const bool sse = (c & bit_SSE4_1) != 0 && (c & bit_SSSE3) != 0;
        __cpuid_count(7, 0, a, b, c, d);
        return sse && (b & bit_SHA) != 0;
    }();
    return has;
}
#endif

// Hashing by the portable rounds only, for the tests that hold the two
// ways to each other.
bool portableOnly = false;

}  // namespace

Sha256::Sha256() { memcpy(state_, kInitial, sizeof state_); }

void Sha256::blocks(const unsigned char *data, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    if (!portableOnly && processorHashes()) {
        extensionBlocks(state_, data, count);
        return;
    }
#endif
    for (; count > 0; --count, data += 64) portableBlock(state_, data);
}

bool sha256OnProcessor(bool use) {
    portableOnly = !use;
#if defined(__x86_64__) || defined(__i386__)
    return use && processorHashes();
#else
    return false;
#endif
}

void Sha256::update(const void *data, size_t size) {
    feed_.update(data, size, [this](const unsigned char *p, size_t n) { blocks(p, n); });
}

std::string Sha256::hexDigest() const {
    Sha256 last = *this;  // padding goes into a copy: this one may take more
    last.feed_.finish(true, [&last](const unsigned char *p, size_t n) { last.blocks(p, n); });
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
