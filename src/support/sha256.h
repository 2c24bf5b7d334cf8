// SHA-256 (FIPS 180-4), streamed: a file of many gigabytes is hashed through
// a fixed-size buffer, never held in memory. The archive records give each
// archived copy's digest in the form sha256sum prints, so a record can be
// checked with sha256sum -c as well as by nsfmend itself.
#ifndef NSFMEND_SUPPORT_SHA256_H
#define NSFMEND_SUPPORT_SHA256_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/hash_blocks.h"

namespace nsfmend {

// One digest being computed. A copy is an independent digest of the bytes
// seen so far, so one pass over a file can give the digest of a start of
// it as well as of the whole.
class Sha256 {
public:
    Sha256();
    void update(const void *data, size_t size);
    void update(std::string_view text) { update(text.data(), text.size()); }
    // The digest of everything given so far, as 64 lowercase hex digits;
    // the object itself can go on taking bytes.
    std::string hexDigest() const;
    // How many bytes it has taken.
    uint64_t length() const { return feed_.length(); }

private:
    void blocks(const unsigned char *data, size_t count);

    uint32_t state_[8];
    HashBlocks feed_;
};

// Whether digests use the processor's SHA extensions where it has them
// (the default) or the portable rounds only, which the tests hold against
// each other. True when the extensions are in use from now on.
bool sha256OnProcessor(bool use);

// The hex digest of a text.
std::string sha256Hex(std::string_view text);

// True for 64 lowercase hex digits: a digest as hexDigest gives it.
bool isHexDigest(std::string_view text);

// What one pass over an open file gives: the whole file's digest and size,
// and the digest of its first `marks[i]` bytes for each mark not past its
// end (empty for a mark past it).
struct FileDigest {
    uint64_t size = 0;
    std::string whole;
    std::vector<std::string> atMarks;
};

// A FileDigest taken piece by piece, as the bytes arrive from wherever
// they come (a file, a download).
class MarkedSha256 {
public:
    explicit MarkedSha256(std::vector<uint64_t> marks = {});
    void update(const void *data, size_t size);
    // Forgets every byte given so far: a stream that starts over.
    void restart();
    // How many bytes may still be given before the next mark is reached
    // (at most `piece`), so a reader can stop there.
    uint64_t untilNextMark(uint64_t piece) const;
    // The digests of everything given so far.
    FileDigest result() const;

private:
    void takeMarks();

    std::vector<uint64_t> marks_;
    std::vector<std::string> atMarks_;
    Sha256 hash_;
};

// Reads fd from where it stands to its end in fixed-size pieces. 0, or the
// errno of a failed read (ENOMEM when the buffer cannot be had).
int sha256File(int fd, const std::vector<uint64_t> &marks, FileDigest *digest);

}  // namespace nsfmend

#endif
