// Requests to one bucket of an object store, through libcurl: signed with
// its own SigV4 (CURLOPT_AWS_SIGV4), over TLS that is verified, each sent
// again whole while it meets a failure worth it (s3_wire.h: judgeAttempt),
// a bounded number of times within a deadline, and never waiting on a
// stalled connection past the low-speed limit.
#ifndef NSFMEND_STORAGE_S3_CLIENT_H
#define NSFMEND_STORAGE_S3_CLIENT_H

#include <stdint.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage/s3_config.h"
#include "storage/s3_wire.h"
#include "storage/storage.h"
#include "support/result.h"

namespace nsfmend {

struct S3Request {
    const char *method = "GET";  // GET, HEAD or PUT
    std::string key;             // the object's key; empty: the bucket itself
    std::vector<std::pair<std::string, std::string>> query;
    // A PUT's body: the first bodySize bytes of the open file bodyFd, or
    // bodyText; its SHA-256 (hex, the signed x-amz-content-sha256) and MD5
    // (base64, Content-MD5).
    int bodyFd = -1;
    std::string_view bodyText;
    uint64_t bodySize = 0;
    std::string bodySha256;
    std::string bodyMd5;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    // A GET's body, when the answer is a success; every byte of it is
    // checked against the x-amz-meta-sha256 the object carries, where it
    // carries one. Without a sink the body goes to the response.
    ByteSink *sink = nullptr;
};

struct S3Response {
    long status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    S3Error error;
    int attempts = 0;
    // The header's value, or empty.
    std::string header(const std::string &name) const;
};

class S3Client {
public:
    S3Client(S3Settings settings, std::string bucket);
    ~S3Client();
    S3Client(const S3Client &) = delete;
    S3Client &operator=(const S3Client &) = delete;

    // Sends request until it succeeds, fails for good, or the resends or
    // the deadline are used up. ok for a 2xx answer that is no error
    // document. A failure's text gives the store's own code and message and
    // the HTTP status ("NoSuchBucket: The specified bucket does not exist
    // (HTTP 404)"), or libcurl's words for a transfer that did not complete,
    // with how many attempts were made; its errno is ENOENT for 404, EACCES
    // for 403, ETIMEDOUT for a timeout, ECONNREFUSED for a store that is
    // not there, else EIO.
    Result send(const S3Request &request, S3Response *response);

private:
    struct Attempt;
    int perform(const S3Request &request, long timeoutMs, S3Response *response, Attempt *attempt);
    std::string urlOf(const S3Request &request) const;

    S3Settings settings_;
    std::string bucket_;
    void *curl_ = nullptr;  // CURL *: kept so its connections are reused
};

}  // namespace nsfmend

#endif
