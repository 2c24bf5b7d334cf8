// Where archived extents and their records are kept: a folder, or an object
// store that speaks the S3 API (s3://BUCKET/PREFIX/). The archiving, the
// half-filled capture, the archive records, the archive check and the fetch
// all go through this one interface and never learn which of the two they
// talk to; openStorage, which reads the location's text, is the only place
// that decides.
//
// A storage is a place: a folder, or a bucket and a prefix ending in "/".
// Names are those of its entries (no "/"); pathOf gives the text a message
// names one by: the file's path, or the object's s3:// URL.
#ifndef NSFMEND_STORAGE_STORAGE_H
#define NSFMEND_STORAGE_STORAGE_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/durable.h"
#include "support/result.h"

namespace nsfmend {

// How an entry can be read.
enum class StoredKind {
    kRegular,     // a file or an object
    kNotRegular,  // a FIFO, socket, device or folder (or a link to one): never opened
    kUnknown,     // its lookup failed; whoever reads it finds out why
};

struct StoredEntry {
    std::string name;
    StoredKind kind = StoredKind::kUnknown;
    bool folder = false;  // a folder, or a store's common prefix ("NAME/")
    uint64_t size = 0;    // as listed (0 when unknown)
    time_t modified = 0;  // when it was last written, as listed (0 when unknown)
};

// Where the bytes of a read go.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // 0, or the errno that ends the read.
    virtual int write(const void *data, size_t size) = 0;
    // A read that had to start over (a store's answer cut short and asked
    // again): everything written so far is to be forgotten. 0 or an errno.
    virtual int restart() = 0;
};

// What an entry holds, as its size and SHA-256.
struct StoredDigest {
    uint64_t size = 0;
    std::string sha256;  // 64 lowercase hex digits
};

class Storage {
public:
    virtual ~Storage() = default;

    // The text a message names an entry by.
    virtual std::string pathOf(std::string_view name) const = 0;
    // Makes the place ready to take entries: a folder location is created
    // (one level, as given to openStorage) when it is missing; a store has
    // nothing to make. The error of making it, when there is one.
    virtual Result prepare() = 0;
    // Every entry of the place ("." and ".." never), in ascending byte order
    // of the names.
    virtual Result list(std::vector<StoredEntry> *entries) = 0;
    // Whether name can be read, asked without reading it.
    virtual Result probe(std::string_view name) = 0;
    // Every byte of name into sink, from the first. A folder refuses what is
    // not a regular file: EISDIR for a folder, EINVAL for anything else.
    virtual Result read(std::string_view name, ByteSink *sink) = 0;

    // Puts the bytes of the local file source under name, never replacing
    // anything else: a name not there yet gets them; one that holds them
    // already is the copy (made durable where it lives, nothing is written
    // again); one that holds their start (an earlier capture of an extent
    // then being filled) is replaced whole. Anything else there is left
    // as it was and fails (EEXIST, or the store's words). ok once name holds
    // source's bytes durably, with *stored what it holds, taken from the
    // bytes as they went (the copy is never read again for it).
    virtual Result put(const char *source, std::string_view name, StoredDigest *stored) = 0;
    // What name holds, as the store or the file itself says.
    virtual Result digest(std::string_view name, StoredDigest *digest) = 0;
    // A small text of the program's own (an archive record) under name,
    // readable by whoever may read the place: kNoReplace fails with EEXIST
    // where name is taken.
    virtual Result writeText(std::string_view name, std::string_view text, Placing how) = 0;
    // Removes what interrupted writes left in the place (a folder's hidden
    // temporary files). Never a failure: such leftovers are never taken
    // for an entry.
    virtual void removeLeftovers() = 0;
};

// Whether text names an object store (s3://...) rather than a folder.
bool isStoreLocation(std::string_view text);

// The place a location names as a whole: a folder, or s3://BUCKET/PREFIX
// ("/" added to a prefix that lacks it). The refusal of a location that
// cannot be used (a store URL that does not parse, credentials that cannot
// be read), with its reason.
Result openStorage(std::string_view location, std::unique_ptr<Storage> *storage);

// The place where the names location + NAME are made, and the start those
// names share within it: "/backup/" gives the folder /backup/ and "";
// "/backup/day1-" the folder /backup/ and "day1-"; s3://b/logs/ the prefix
// logs/ and "". prepare() makes the location as given.
Result openDestination(std::string_view location, std::unique_ptr<Storage> *storage,
                       std::string *stem);

}  // namespace nsfmend

#endif
