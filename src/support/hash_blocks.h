// The framing that MD5 and SHA-256 share: bytes gathered into whole 64-byte
// blocks for the compression function, and the closing padding (0x80, zeros
// to 8 bytes short of a block's end, the message's length in bits).
#ifndef NSFMEND_SUPPORT_HASH_BLOCKS_H
#define NSFMEND_SUPPORT_HASH_BLOCKS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

namespace nsfmend {

class HashBlocks {
public:
    static constexpr size_t kBlock = 64;

    // Hands every whole block to compress(const unsigned char *, size_t
    // count); a part block waits for the next update or for finish.
    template <typename Compress>
    void update(const void *data, size_t size, Compress &&compress) {
        const unsigned char *p = static_cast<const unsigned char *>(data);
        length_ += size;
        if (pendingSize_ > 0) {
            const size_t take = std::min(size, kBlock - pendingSize_);
            memcpy(pending_ + pendingSize_, p, take);
            pendingSize_ += take;
            p += take;
            size -= take;
            if (pendingSize_ < kBlock) return;
            compress(pending_, size_t{1});
        }
        const size_t whole = size / kBlock;
        if (whole > 0) compress(p, whole);
        p += whole * kBlock;
        size -= whole * kBlock;
        memcpy(pending_, p, size);
        pendingSize_ = size;
    }

    // Pads the message and gives its last blocks; the length in bits goes
    // big-endian (SHA-256) or little-endian (MD5).
    template <typename Compress>
    void finish(bool bigEndianLength, Compress &&compress) {
        const uint64_t bits = length_ * 8;
        unsigned char padding[kBlock] = {0x80};
        update(padding, pendingSize_ < 56 ? 56 - pendingSize_ : 120 - pendingSize_, compress);
        unsigned char lengthBytes[8];
        for (int i = 0; i < 8; ++i)
            lengthBytes[i] = (unsigned char)(bits >> (bigEndianLength ? 56 - 8 * i : 8 * i));
        update(lengthBytes, sizeof lengthBytes, compress);
    }

    uint64_t length() const { return length_; }

private:
    unsigned char pending_[kBlock] = {};
    size_t pendingSize_ = 0;
    uint64_t length_ = 0;
};

}  // namespace nsfmend

#endif
