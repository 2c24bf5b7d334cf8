// A bucket and prefix of an object store as a storage.
//
// Nothing is ever overwritten by surprise: before an object is written its
// name is looked up (HEAD). One that carries the same SHA-256
// (x-amz-meta-sha256, which this program stores with every object; an
// ETag is never taken for a checksum) is the copy already; one whose
// SHA-256 is that of the file's start, and shorter, is an earlier capture
// of an extent then being filled, and is replaced by the whole (a PUT
// replaces an object at once: a reader sees the old object or the new,
// never a mix); anything else, an empty or short object without our
// checksum included, fails and is left as it was. An upload carries its
// Content-MD5 and its signed SHA-256, which the store checks before it keeps
// the object, and x-amz-meta-sha256; it counts once the store answered it
// with success and a HEAD finds the object with that size and checksum.
#include "storage/s3_storage.h"

#include <curl/curl.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <thread>
#include <utility>

#include "storage/md5.h"
#include "storage/s3_client.h"
#include "storage/s3_config.h"
#include "support/durable.h"
#include "support/raii.h"
#include "support/sha256.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {
namespace {

constexpr size_t kReadPiece = 1u << 20;

// What a HEAD found under a name.
struct Found {
    bool there = false;
    uint64_t size = 0;
    std::string sha256;  // x-amz-meta-sha256, empty when the object has none
};

// The digests one pass over an upload's source gives: the whole's SHA-256
// and MD5, and the SHA-256 of its start at one mark.
struct SourceDigest {
    uint64_t size = 0;
    std::string sha256;
    std::string md5;      // base64
    std::string atMark;   // of the first `mark` bytes
};

// Reads the first size bytes of fd in pieces, each handed to take. 0, or
// the errno of a read; EIO for a file that shrank while it was read (it is
// never sent short).
template <typename Take>
int readPieces(int fd, uint64_t size, Take take) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadPiece]);
    if (!buffer) return ENOMEM;
    uint64_t done = 0;
    while (done < size) {
        const size_t want = (size_t)std::min<uint64_t>(kReadPiece, size - done);
        ssize_t got;
        do {
            got = pread(fd, buffer.get(), want, (off_t)done);
        } while (got < 0 && errno == EINTR);
        if (got < 0) return lastError();
        if (got == 0) return EIO;
        take(buffer.get(), (size_t)got);
        done += (uint64_t)got;
    }
    return 0;
}

// The MD5 on a second thread beside the SHA-256, each reading the file for
// itself (from the page cache, the second time): an extent is hashed in the
// time of the slower of the two.
int digestSource(int fd, uint64_t size, uint64_t mark, SourceDigest *out) {
    Md5 md5;
    int md5Error = 0;
    std::thread second([&] {
        md5Error = readPieces(fd, size, [&md5](const char *data, size_t n) { md5.update(data, n); });
    });
    MarkedSha256 sha({mark});
    const int shaError =
        readPieces(fd, size, [&sha](const char *data, size_t n) { sha.update(data, n); });
    second.join();
    if (shaError != 0) return shaError;
    if (md5Error != 0) return md5Error;
    const FileDigest digest = sha.result();
    out->size = size;
    out->sha256 = digest.whole;
    out->md5 = base64(md5.digest());
    out->atMark = digest.atMarks.empty() ? "" : digest.atMarks[0];
    return 0;
}

class S3Storage : public Storage {
public:
    S3Storage(S3Settings settings, S3Location location)
        : client_(std::move(settings), location.bucket), location_(std::move(location)) {}

    std::string pathOf(std::string_view name) const override {
        return "s3://" + location_.bucket + "/" + location_.prefix + std::string(name);
    }

    // A bucket is the store's to make; there is no folder to create.
    Result prepare() override { return Result::ok(); }

    Result list(std::vector<StoredEntry> *entries) override {
        entries->clear();
        std::string token;
        for (;;) {
            S3Request request;
            request.query = {{"list-type", "2"}, {"prefix", location_.prefix}, {"delimiter", "/"},
                             {"encoding-type", "url"}};
            if (!token.empty()) request.query.emplace_back("continuation-token", token);
            S3Response response;
            Result sent = client_.send(request, &response);
            if (!sent.isOk()) return sent;
            S3Listing page;
            if (!parseS3Listing(response.body, &page))
                return Result::system(EIO, "the store's listing cannot be read");
            for (const S3Listing::Object &object : page.objects) {
                if (object.key.compare(0, location_.prefix.size(), location_.prefix) != 0) continue;
                StoredEntry entry;
                entry.name = object.key.substr(location_.prefix.size());
                // The prefix's own marker object ("logs/") is no entry.
                if (entry.name.empty()) continue;
                entry.kind = StoredKind::kRegular;
                entry.size = object.size;
                entry.modified = object.modified;
                entries->push_back(std::move(entry));
            }
            for (const std::string &prefix : page.prefixes) {
                if (prefix.compare(0, location_.prefix.size(), location_.prefix) != 0) continue;
                StoredEntry entry;
                entry.name = prefix.substr(location_.prefix.size());
                if (!entry.name.empty() && entry.name.back() == '/') entry.name.pop_back();
                if (entry.name.empty()) continue;
                entry.kind = StoredKind::kNotRegular;
                entry.folder = true;
                entries->push_back(std::move(entry));
            }
            if (!page.truncated) break;
            token = page.nextToken;
        }
        std::sort(entries->begin(), entries->end(),
                  [](const StoredEntry &a, const StoredEntry &b) { return a.name < b.name; });
        return Result::ok();
    }

    // A listed object can be read; what reading finds is read()'s to say.
    Result probe(std::string_view) override { return Result::ok(); }

    Result read(std::string_view name, ByteSink *sink) override {
        S3Request request;
        request.key = key(name);
        request.sink = sink;
        S3Response response;
        return client_.send(request, &response);
    }

    Result put(const char *source, std::string_view name, StoredDigest *stored) override {
        UniqueFd fd(open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid()) return Result::system(lastError());
        struct stat st;
        if (fstat(fd.get(), &st) != 0) return Result::system(lastError());
        if (!S_ISREG(st.st_mode)) return Result::system(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        Found found;
        Result result = head(name, &found);
        if (!result.isOk()) return result;
        // Exactly the bytes there now: a file the server goes on filling is
        // sent as far as it was when it was hashed.
        SourceDigest digest;
        const int rc = digestSource(fd.get(), (uint64_t)st.st_size, found.size, &digest);
        if (rc != 0) return Result::system(rc);
        if (found.there) {
            if (found.size == digest.size && found.sha256 == digest.sha256)
                return done(name, digest, stored);
            const bool start = found.size < digest.size && !found.sha256.empty() &&
                               found.sha256 == digest.atMark;
            if (!start) return otherContent(found);
        }
        S3Request request;
        request.method = "PUT";
        request.key = key(name);
        request.bodyFd = fd.get();
        request.bodySize = digest.size;
        request.bodySha256 = digest.sha256;
        request.bodyMd5 = digest.md5;
        request.contentType = "application/octet-stream";
        request.headers = {{"x-amz-meta-sha256", digest.sha256}};
        result = upload(request, name);
        return result.isOk() ? done(name, digest, stored) : result;
    }

    Result digest(std::string_view name, StoredDigest *digest) override {
        const auto known = known_.find(std::string(name));
        if (known != known_.end()) {
            *digest = known->second;
            return Result::ok();
        }
        Found found;
        Result result = head(name, &found);
        if (!result.isOk()) return result;
        if (!found.there) return Result::system(ENOENT, "no such object");
        if (found.sha256.empty())
            return Result::system(EIO, "the object carries no SHA-256 (x-amz-meta-sha256)");
        digest->size = found.size;
        digest->sha256 = found.sha256;
        return Result::ok();
    }

    Result writeText(std::string_view name, std::string_view text, Placing how) override {
        if (how == Placing::kNoReplace) {
            Found found;
            Result result = head(name, &found);
            if (!result.isOk()) return result;
            if (found.there) return Result::system(EEXIST);
        }
        Md5 md5;
        md5.update(text.data(), text.size());
        S3Request request;
        request.method = "PUT";
        request.key = key(name);
        request.bodyText = text;
        request.bodySize = text.size();
        request.bodySha256 = sha256Hex(text);
        request.bodyMd5 = base64(md5.digest());
        request.contentType = "text/plain; charset=utf-8";
        request.headers = {{"x-amz-meta-sha256", request.bodySha256}};
        return upload(request, name);
    }

    // A failed PUT leaves nothing behind: there are no leftovers in a store.
    void removeLeftovers() override {}

private:
    std::string key(std::string_view name) const { return location_.prefix + std::string(name); }

    Result head(std::string_view name, Found *found) {
        *found = Found();
        S3Request request;
        request.method = "HEAD";
        request.key = key(name);
        S3Response response;
        const Result sent = client_.send(request, &response);
        if (!sent.isOk() && response.status == 404) return Result::ok();
        if (!sent.isOk()) return response.status >= 400 ? explain(name, sent) : sent;
        found->there = true;
        found->size = strtoull(response.header("content-length").c_str(), nullptr, 10);
        found->sha256 = response.header("x-amz-meta-sha256");
        return Result::ok();
    }

    // A HEAD's answer has no body to give the store's own error code: the
    // first byte is asked for, whose answer does.
    Result explain(std::string_view name, const Result &failure) {
        S3Request request;
        request.key = key(name);
        request.headers = {{"Range", "bytes=0-0"}};
        S3Response response;
        const Result asked = client_.send(request, &response);
        return asked.isOk() || response.error.code.empty() ? failure : asked;
    }

    // The PUT, then a HEAD that finds what it put: the store's word that it
    // took the body is not the only one taken.
    Result upload(const S3Request &request, std::string_view name) {
        S3Response response;
        Result result = client_.send(request, &response);
        if (!result.isOk()) return result;
        Found found;
        result = head(name, &found);
        if (!result.isOk()) return result;
        if (!found.there || found.size != request.bodySize || found.sha256 != request.bodySha256)
            return Result::system(EIO, "after the upload the store holds " +
                                           (found.there ? describe(found) : std::string("nothing")) +
                                           ", not the " + std::to_string(request.bodySize) +
                                           " bytes sent");
        return Result::ok();
    }

    Result done(std::string_view name, const SourceDigest &digest, StoredDigest *stored) {
        stored->size = digest.size;
        stored->sha256 = digest.sha256;
        known_[std::string(name)] = *stored;
        return Result::ok();
    }

    static std::string describe(const Found &found) {
        return "an object of " + std::to_string(found.size) + " bytes" +
               (found.sha256.empty() ? std::string(" without a SHA-256") : " with another SHA-256");
    }

    static Result otherContent(const Found &found) {
        return Result::system(EEXIST, describe(found) + " is there already; it is never replaced");
    }

    S3Client client_;
    S3Location location_;
    std::map<std::string, StoredDigest> known_;  // what this run put, or found put
};

}  // namespace

Result openS3Storage(std::string_view location, bool destination,
                     std::unique_ptr<Storage> *storage, std::string *stem) {
    S3Location parsed;
    Result result = parseS3Location(location, &parsed);
    if (!result.isOk()) return result;
    if (destination) {
        // The names are location + NAME: the place is the prefix up to its
        // last "/", the rest starts every name.
        const size_t slash = parsed.prefix.rfind('/');
        const size_t cut = slash == std::string::npos ? 0 : slash + 1;
        *stem = parsed.prefix.substr(cut);
        parsed.prefix.resize(cut);
    } else if (!parsed.prefix.empty() && parsed.prefix.back() != '/') {
        parsed.prefix += '/';
    }
    // SigV4 signing that takes the caller's x-amz-content-sha256, and
    // protocols given by name: an older libcurl would sign another payload
    // hash or ignore the options, and no store would take what it sends.
    const curl_version_info_data *curl = curl_version_info(CURLVERSION_NOW);
    if (curl == nullptr || curl->version_num < 0x075600)
        return Result::system(ENOTSUP, formatText(NSFMEND_S3_OLD_LIBCURL,
                                                  curl != nullptr ? curl->version : "?"));
    S3Settings settings;
    result = loadS3Settings(processEnvironment(), &settings);
    if (!result.isOk()) return result;
    *storage = std::make_unique<S3Storage>(std::move(settings), std::move(parsed));
    return Result::ok();
}

}  // namespace nsfmend
