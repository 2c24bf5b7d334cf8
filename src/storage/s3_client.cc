#include "storage/s3_client.h"

#include <curl/curl.h>
#include <math.h>
#include <errno.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "support/sha256.h"

namespace nsfmend {
namespace {

// How much of an answer's body is kept when it goes nowhere else: an error
// document is small, a page of a listing (1,000 keys) well below this.
constexpr size_t kBodyLimit = 16u << 20;
// How much of a successful GET is kept to tell an error document sent with
// a 200 from the object itself.
constexpr size_t kHeadKept = 4096;
// A transfer slower than this for the low-speed time is taken as stalled.
constexpr long kLowSpeedLimit = 1024;
// Bigger pieces than libcurl's default move a 64 MiB extent faster.
constexpr long kTransferBuffer = 512L * 1024;

bool curlReady() {
    // Once per process; thread-safe in this libcurl.
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

void pause(double seconds) {
    if (seconds <= 0) return;
    struct timespec t;
    t.tv_sec = (time_t)seconds;
    t.tv_nsec = (long)((seconds - (double)t.tv_sec) * 1e9);
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

std::string lowered(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return text;
}

// The words of an answer without an error document (a HEAD's).
std::string statusText(long status) {
    switch (status) {
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 409: return "Conflict";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return status >= 200 && status < 300 ? "an error sent as a success" : "Failed";
    }
}

int errnoForStatus(long status) {
    switch (status) {
        case 404: return ENOENT;
        case 403: return EACCES;
        case 400: return EINVAL;
        default: return EIO;
    }
}

int errnoForTransport(int code) {
    switch (code) {
        case CURLE_COULDNT_CONNECT: return ECONNREFUSED;
        case CURLE_OPERATION_TIMEDOUT: return ETIMEDOUT;
        case CURLE_COULDNT_RESOLVE_HOST: return EHOSTUNREACH;
        default: return EIO;
    }
}

}  // namespace

struct S3Client::Attempt {
    const S3Request *request = nullptr;
    S3Response *response = nullptr;
    CURL *curl = nullptr;
    uint64_t offset = 0;  // of the body being sent
    bool decided = false;
    bool toSink = false;
    bool sinkUsed = false;
    int sinkError = 0;
    Sha256 received;
    std::string head;
    char error[CURL_ERROR_SIZE] = {};

    static size_t onHeader(char *data, size_t size, size_t count, void *user) {
        auto *a = static_cast<Attempt *>(user);
        const size_t bytes = size * count;
        std::string line(data, bytes);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        // A new status line (after "100 Continue"): the headers start again.
        if (line.compare(0, 5, "HTTP/") == 0) {
            a->response->headers.clear();
            return bytes;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) return bytes;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        a->response->headers[lowered(line.substr(0, colon))] = value;
        return bytes;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *user) {
        auto *a = static_cast<Attempt *>(user);
        const size_t bytes = size * count;
        if (!a->decided) {
            long status = 0;
            curl_easy_getinfo(a->curl, CURLINFO_RESPONSE_CODE, &status);
            a->toSink = a->request->sink != nullptr && status >= 200 && status < 300;
            a->decided = true;
        }
        if (!a->toSink) {
            std::string &body = a->response->body;
            if (body.size() + bytes > kBodyLimit) return 0;
            body.append(data, bytes);
            return bytes;
        }
        if (a->head.size() < kHeadKept) a->head.append(data, std::min(bytes, kHeadKept - a->head.size()));
        a->received.update(data, bytes);
        a->sinkUsed = true;
        a->sinkError = a->request->sink->write(data, bytes);
        return a->sinkError == 0 ? bytes : 0;
    }

    static size_t onRead(char *buffer, size_t size, size_t count, void *user) {
        auto *a = static_cast<Attempt *>(user);
        const S3Request &r = *a->request;
        const uint64_t left = r.bodySize - a->offset;
        const size_t want = (size_t)std::min<uint64_t>(left, size * count);
        if (want == 0) return 0;
        if (r.bodyFd < 0) {
            memcpy(buffer, r.bodyText.data() + a->offset, want);
            a->offset += want;
            return want;
        }
        ssize_t got;
        do {
            got = pread(r.bodyFd, buffer, want, (off_t)a->offset);
        } while (got < 0 && errno == EINTR);
        // A file that shrank or cannot be read: the upload is given up, never
        // sent short.
        if (got <= 0) return CURL_READFUNC_ABORT;
        a->offset += (uint64_t)got;
        return (size_t)got;
    }
};

std::string S3Response::header(const std::string &name) const {
    const auto found = headers.find(name);
    return found != headers.end() ? found->second : "";
}

S3Client::S3Client(S3Settings settings, std::string bucket)
    : settings_(std::move(settings)), bucket_(std::move(bucket)) {
    if (curlReady()) curl_ = curl_easy_init();
}

S3Client::~S3Client() {
    if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL *>(curl_));
}

std::string S3Client::urlOf(const S3Request &request) const {
    const S3Endpoint &e = settings_.endpoint;
    const std::string host = e.host + (e.port.empty() ? "" : ":" + e.port);
    std::string url = e.scheme + "://";
    if (settings_.pathStyle) {
        url += host + "/" + bucket_;
        if (!request.key.empty()) url += "/" + uriEncode(request.key, true);
    } else {
        url += bucket_ + "." + host + "/" + uriEncode(request.key, true);
    }
    // Sorted and encoded here: the signature covers the query as the URL
    // holds it.
    if (!request.query.empty()) url += "?" + canonicalQuery(request.query);
    return url;
}

int S3Client::perform(const S3Request &request, long timeoutMs, S3Response *response,
                      Attempt *attempt) {
    CURL *curl = static_cast<CURL *>(curl_);
    curl_easy_reset(curl);
    *response = S3Response();
    attempt->request = &request;
    attempt->response = response;
    attempt->curl = curl;

    const std::string url = urlOf(request);
    const std::string sigv4 = "aws:amz:" + settings_.region + ":s3";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, settings_.endpoint.scheme.c_str());
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings_.caBundle.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, settings_.caBundle.c_str());
    curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, sigv4.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, settings_.accessKey.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, settings_.secretKey.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     std::min(settings_.connectTimeout * 1000, timeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimit);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, settings_.lowSpeedTime);
    curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, attempt->error);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Attempt::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, attempt);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Attempt::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, attempt);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kTransferBuffer);

    // The payload's hash is the caller's to give, as this libcurl signs
    // whatever x-amz-content-sha256 says; a request without a body has the
    // empty one.
    static const std::string kEmptySha256 = sha256Hex("");
    std::vector<std::string> lines = {
        "x-amz-content-sha256: " + (request.bodySha256.empty() ? kEmptySha256 : request.bodySha256)};
    if (!request.bodyMd5.empty()) lines.push_back("Content-MD5: " + request.bodyMd5);
    if (!request.contentType.empty()) lines.push_back("Content-Type: " + request.contentType);
    if (!settings_.sessionToken.empty())
        lines.push_back("x-amz-security-token: " + settings_.sessionToken);
    for (const auto &[name, value] : request.headers) {
        std::string line = name + ": ";
        lines.push_back(line.append(value));
    }
    struct curl_slist *headers = nullptr;
    for (const std::string &line : lines) {
        struct curl_slist *more = curl_slist_append(headers, line.c_str());
        if (more == nullptr) {
            curl_slist_free_all(headers);
            return CURLE_OUT_OF_MEMORY;
        }
        headers = more;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    const std::string method = request.method;
    if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method == "PUT") {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, (curl_off_t)request.bodySize);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Attempt::onRead);
        curl_easy_setopt(curl, CURLOPT_READDATA, attempt);
        curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kTransferBuffer);
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response->status);
    return rc;
}

Result S3Client::send(const S3Request &request, S3Response *response) {
    if (curl_ == nullptr) return Result::system(ENOMEM, "libcurl could not be started");
    const double start = now();
    const double deadline = start + (double)settings_.deadline;
    std::string failure;
    int error = EIO;
    for (long attempt = 0;; ++attempt) {
        const double left = deadline - now();
        if (left <= 0) break;
        const long timeoutMs =
            std::max(1L, (long)std::min<double>((double)settings_.requestTimeout * 1000, left * 1000));
        Attempt one;
        if (request.sink != nullptr && attempt > 0) {
            const int restarted = request.sink->restart();
            if (restarted != 0) return Result::system(restarted);
        }
        const int transport = perform(request, timeoutMs, response, &one);
        response->attempts = (int)attempt + 1;
        if (one.sinkError != 0) return Result::system(one.sinkError);

        bool corrupt = false;
        if (transport == CURLE_OK && one.toSink) {
            // Every object this program writes carries its SHA-256: what came
            // must be it. One that carries none may be an error document the
            // store sent with a 200.
            const std::string stored = response->header("x-amz-meta-sha256");
            if (!stored.empty()) {
                corrupt = one.received.hexDigest() != stored;
                if (corrupt)
                    response->error = S3Error{"ChecksumMismatch",
                                              "what came has not the SHA-256 the object carries"};
            } else {
                (void)parseS3Error(one.head, &response->error);
            }
        } else if (!response->body.empty()) {
            (void)parseS3Error(response->body, &response->error);
        }
        const Outcome outcome =
            corrupt ? Outcome::kRetry : judgeAttempt(transport, response->status, response->error.code);
        if (outcome == Outcome::kSuccess) return Result::ok();

        if (transport != CURLE_OK) {
            failure = curl_easy_strerror((CURLcode)transport);
            if (one.error[0] != '\0') failure += std::string(": ") + one.error;
            error = errnoForTransport(transport);
        } else {
            const S3Error &e = response->error;
            failure = (e.code.empty() ? statusText(response->status) : e.code + ": " + e.message) +
                      " (HTTP " + std::to_string(response->status) + ")";
            error = errnoForStatus(response->status);
        }
        if (outcome == Outcome::kFail || attempt >= settings_.retries) break;
        // Backing off: a quarter second, doubled each time, at most eight,
        // never past the deadline.
        pause(std::min({0.25 * (double)(1L << std::min(attempt, 5L)), 8.0, deadline - now()}));
    }
    if (failure.empty()) failure = "no answer within the deadline of " + std::to_string(settings_.deadline) + " s";
    const int attempts = response->attempts;
    if (attempts > 1)
        failure += ", after " + std::to_string(attempts) + " attempts in " +
                   std::to_string(lround(now() - start)) + " s";
    return Result::system(error, failure);
}

}  // namespace nsfmend
