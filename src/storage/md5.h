// MD5 (RFC 1321), streamed, for the Content-MD5 header of an upload: the
// store checks the body it received against it before it keeps the object.
// It is a transport check only; what a record keeps is the SHA-256.
#ifndef NSFMEND_STORAGE_MD5_H
#define NSFMEND_STORAGE_MD5_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

#include "support/hash_blocks.h"

namespace nsfmend {

class Md5 {
public:
    Md5();
    void update(const void *data, size_t size);
    // The 16 bytes of the digest of everything given so far.
    std::string digest() const;

private:
    void block(const unsigned char *data);

    void blocks(const unsigned char *data, size_t count) {
        for (; count > 0; --count, data += HashBlocks::kBlock) block(data);
    }

    uint32_t state_[4];
    HashBlocks feed_;
};

// Base64 (RFC 4648, with padding), as Content-MD5 carries the digest.
std::string base64(std::string_view bytes);

}  // namespace nsfmend

#endif
