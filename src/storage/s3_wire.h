// The texts an object store and the program exchange, apart from the
// transfer itself: keys and queries as the signature takes them, the XML of
// a listing and of an error, and which failures are worth a resend.
#ifndef NSFMEND_STORAGE_S3_WIRE_H
#define NSFMEND_STORAGE_S3_WIRE_H

#include <stdint.h>
#include <time.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nsfmend {

// RFC 3986 percent-encoding as SigV4 wants it: A-Z a-z 0-9 - _ . ~ kept,
// every other byte %XX (upper-case hex); "/" kept when keepSlash (a key in
// a path), encoded in a query.
std::string uriEncode(std::string_view text, bool keepSlash);
// The reverse, for keys a listing gives URL-encoded ("+" is a blank). A
// malformed escape is kept as it is.
std::string uriDecode(std::string_view text);

// A query string in the canonical form the signature is computed over:
// names and values encoded, sorted by name (then value), "name=value"
// joined with "&". libcurl of this version signs the query as the URL
// holds it, so the URL must hold it in this form already.
std::string canonicalQuery(std::vector<std::pair<std::string, std::string>> parameters);

// A store's error document: <Error><Code>...</Code><Message>...</Message>.
struct S3Error {
    std::string code;
    std::string message;
};
// True when body is an error document (an XML declaration may precede it),
// with its code and message.
bool parseS3Error(std::string_view body, S3Error *error);

// One page of a ListObjectsV2 answer.
struct S3Listing {
    struct Object {
        std::string key;
        uint64_t size = 0;
        time_t modified = 0;  // LastModified; 0 when it cannot be read
    };
    std::vector<Object> objects;
    std::vector<std::string> prefixes;  // CommonPrefixes, each ending in the delimiter
    bool truncated = false;
    std::string nextToken;
};
// False for a body that is no listing (or one that says it is cut but gives
// no token to go on with). Keys come decoded when the answer says it
// encoded them.
bool parseS3Listing(std::string_view body, S3Listing *listing);

// Whether a failed request is worth sending again, whole: a dropped or
// stalled connection, a 5xx answer, a store that asks to slow down, or a
// 200 whose body is an error the store calls passing.
enum class Outcome { kSuccess, kRetry, kFail };
// transport: 0, or the libcurl code of a transfer that did not complete;
// status: the HTTP status when an answer came; code: the store's error code
// from its body, or empty.
Outcome judgeAttempt(int transport, long status, const std::string &code);

}  // namespace nsfmend

#endif
