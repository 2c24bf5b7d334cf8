#include "storage/s3_config.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/durable.h"
#include "support/raii.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {
namespace {

bool isBucketCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

std::string trim(std::string_view text) {
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) return "";
    const size_t end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(start, end - start + 1));
}

// A link-local address: where cloud machines find their metadata service
// (169.254.169.254, fd00:ec2::254 is AWS's IPv6 one).
bool isMetadataAddress(const std::string &host) {
    struct in_addr v4;
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        const uint32_t address = ntohl(v4.s_addr);
        return (address >> 16) == 0xA9FE;  // 169.254.0.0/16
    }
    struct in6_addr v6;
    const std::string bare = host.size() > 2 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
    if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1) {
        const bool linkLocal = v6.s6_addr[0] == 0xfe && (v6.s6_addr[1] & 0xc0) == 0x80;
        struct in6_addr aws;
        (void)inet_pton(AF_INET6, "fd00:ec2::254", &aws);
        return linkLocal || memcmp(&v6, &aws, sizeof v6) == 0;
    }
    return false;
}

bool isIpAddress(const std::string &host) {
    struct in_addr v4;
    struct in6_addr v6;
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return true;
    return host.size() > 2 && host.front() == '[' && host.back() == ']' &&
           inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) == 1;
}

// A whole number of seconds (or a count) from 0 to 86400.
Result readNumber(const Environment &env, const char *name, long *value) {
    const char *text = env(name);
    if (text == nullptr || text[0] == '\0') return Result::ok();
    char *end = nullptr;
    errno = 0;
    const long number = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < 0 || number > 86400)
        return Result::system(EINVAL, formatText(NSFMEND_S3_NOT_A_NUMBER, name, text));
    *value = number;
    return Result::ok();
}

std::string valueOf(const Environment &env, const char *name) {
    const char *value = env(name);
    return value != nullptr ? value : "";
}

}  // namespace

Result parseS3Location(std::string_view text, S3Location *location) {
    *location = S3Location();
    const std::string whole(text);
    auto refuse = [&whole](const char *why) {
        return Result::system(EINVAL, formatText(NSFMEND_S3_NOT_A_LOCATION, why, whole.c_str()));
    };
    if (text.substr(0, 5) != "s3://") return refuse("no s3://");
    text.remove_prefix(5);
    const size_t slash = text.find('/');
    const std::string_view bucket = text.substr(0, slash);
    if (bucket.size() < 3 || bucket.size() > 63) return refuse("a bucket name has 3 to 63 characters");
    for (char c : bucket)
        if (!isBucketCharacter(c)) return refuse("a bucket name has a-z, 0-9, \".\" and \"-\" only");
    if (!isLetterOrDigit(bucket.front()) || !isLetterOrDigit(bucket.back()))
        return refuse("a bucket name starts and ends with a letter or digit");
    location->bucket = std::string(bucket);
    if (slash == std::string_view::npos) return Result::ok();
    const std::string_view prefix = text.substr(slash + 1);
    // Each part of the prefix between slashes: never empty, ".", or "..".
    size_t start = 0;
    while (start < prefix.size()) {
        const size_t end = prefix.find('/', start);
        const std::string_view part = prefix.substr(start, end == std::string_view::npos ? end : end - start);
        if (part.empty() || part == "." || part == "..")
            return refuse("a prefix has no empty, \".\" or \"..\" part");
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    for (char c : prefix)
        if ((unsigned char)c < 0x20 || c == 0x7f) return refuse("a prefix has no control characters");
    location->prefix = std::string(prefix);
    return Result::ok();
}

Result parseS3Endpoint(std::string_view text, S3Endpoint *endpoint) {
    *endpoint = S3Endpoint();
    const std::string whole(text);
    auto refuse = [&whole](const char *why) {
        return Result::system(EINVAL, formatText(NSFMEND_S3_NOT_AN_ENDPOINT, why, whole.c_str()));
    };
    const size_t colon = text.find("://");
    if (colon == std::string_view::npos) return refuse("no scheme");
    endpoint->scheme = std::string(text.substr(0, colon));
    if (endpoint->scheme != "https" && endpoint->scheme != "http")
        return refuse("https:// or http:// only");
    std::string_view rest = text.substr(colon + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.find_first_of("/?#@") != std::string_view::npos)
        return refuse("a host and port only: no path, query or user");
    std::string_view host = rest, port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) return refuse("an IPv6 address in brackets");
        host = rest.substr(0, close + 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':') return refuse("a port after the address");
        if (!after.empty()) port = after.substr(1);
    } else {
        const size_t portColon = rest.rfind(':');
        if (portColon != std::string_view::npos) {
            host = rest.substr(0, portColon);
            port = rest.substr(portColon + 1);
        }
    }
    if (host.empty()) return refuse("no host");
    for (char c : port)
        if (c < '0' || c > '9') return refuse("a port is a number");
    if (port.size() > 5 || (!port.empty() && (atoi(std::string(port).c_str()) < 1 ||
                                              atoi(std::string(port).c_str()) > 65535)))
        return refuse("a port from 1 to 65535");
    for (char c : host)
        if ((unsigned char)c <= 0x20 || c == 0x7f) return refuse("a host has no blanks");
    endpoint->host = std::string(host);
    endpoint->port = std::string(port);
    if (isMetadataAddress(endpoint->host)) return refuse("a link-local address, never a store");
    endpoint->ipAddress = isIpAddress(endpoint->host);
    return Result::ok();
}

Environment processEnvironment() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read once per opened store, on the caller's thread
    return [](const char *name) { return static_cast<const char *>(getenv(name)); };
}

Result readS3Credentials(const char *path, const char *profile, S3Settings *settings) {
    const std::string name = path;
    UniqueFd fd(open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    auto unreadable = [&name](int error) {
        return Result::system(error, formatText(NSFMEND_S3_CREDENTIALS_UNREADABLE, name.c_str(),
                                                systemText(error).c_str()));
    };
    if (!fd.valid()) return unreadable(lastError());
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return unreadable(lastError());
    // Secrets that others may read, or change, are no secrets.
    if (!S_ISREG(st.st_mode) || (st.st_mode & 077) != 0 || st.st_uid != geteuid())
        return Result::system(EACCES, formatText(NSFMEND_S3_CREDENTIALS_EXPOSED, name.c_str(),
                                                 (unsigned)(st.st_mode & 07777), (unsigned)st.st_uid));
    // Read from the descriptor whose owner and mode were just checked.
    std::string content;
    char buffer[4096];
    for (;;) {
        size_t got = 0;
        const int rc = readAll(fd.get(), buffer, sizeof buffer, &got);
        if (rc != 0) return unreadable(rc);
        content.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    const std::string section = profile != nullptr && profile[0] != '\0' ? profile : "default";
    const std::string wanted = "[" + section + "]";
    bool inSection = false, found = false;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        const std::string line = trim(std::string_view(content).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            inSection = line == wanted;
            found = found || inSection;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos) continue;
        const std::string key = trim(std::string_view(line).substr(0, equals));
        const std::string value = trim(std::string_view(line).substr(equals + 1));
        if (key == "aws_access_key_id") settings->accessKey = value;
        if (key == "aws_secret_access_key") settings->secretKey = value;
        if (key == "aws_session_token") settings->sessionToken = value;
    }
    if (!found || settings->accessKey.empty() || settings->secretKey.empty())
        return Result::system(EINVAL, formatText(NSFMEND_S3_CREDENTIALS_EMPTY, name.c_str(),
                                                 section.c_str()));
    return Result::ok();
}

Result loadS3Settings(const Environment &env, S3Settings *settings) {
    *settings = S3Settings();
    const char *regionName = "AWS_REGION";
    settings->region = valueOf(env, regionName);
    if (settings->region.empty()) settings->region = valueOf(env, regionName = "AWS_DEFAULT_REGION");
    if (settings->region.empty()) settings->region = "us-east-1";
    for (char c : settings->region)
        if (!isLetterOrDigit(c) && c != '-')
            return Result::system(EINVAL, formatText(NSFMEND_S3_NOT_A_REGION, regionName,
                                                     settings->region.c_str()));

    const std::string endpoint = valueOf(env, "AWS_ENDPOINT_URL");
    Result result = parseS3Endpoint(
        endpoint.empty() ? "https://s3." + settings->region + ".amazonaws.com" : endpoint,
        &settings->endpoint);
    if (!result.isOk()) return result;
    const std::string pathStyle = valueOf(env, "NSFMEND_S3_PATH_STYLE");
    if (!pathStyle.empty() && pathStyle != "0" && pathStyle != "1")
        return Result::system(EINVAL, formatText(NSFMEND_S3_NOT_A_SWITCH, "NSFMEND_S3_PATH_STYLE",
                                                 pathStyle.c_str()));
    settings->pathStyle = pathStyle == "1" || settings->endpoint.ipAddress;
    settings->caBundle = valueOf(env, "AWS_CA_BUNDLE");

    const struct {
        const char *name;
        long *value;
    } numbers[] = {{"NSFMEND_S3_CONNECT_TIMEOUT", &settings->connectTimeout},
                   {"NSFMEND_S3_LOW_SPEED_TIME", &settings->lowSpeedTime},
                   {"NSFMEND_S3_REQUEST_TIMEOUT", &settings->requestTimeout},
                   {"NSFMEND_S3_RETRIES", &settings->retries},
                   {"NSFMEND_S3_DEADLINE", &settings->deadline}};
    for (const auto &number : numbers) {
        result = readNumber(env, number.name, number.value);
        if (!result.isOk()) return result;
    }

    settings->accessKey = valueOf(env, "AWS_ACCESS_KEY_ID");
    settings->secretKey = valueOf(env, "AWS_SECRET_ACCESS_KEY");
    settings->sessionToken = valueOf(env, "AWS_SESSION_TOKEN");
    if (!settings->accessKey.empty() && !settings->secretKey.empty()) return Result::ok();
    const std::string file = valueOf(env, "NSFMEND_S3_CREDENTIALS");
    if (file.empty())
        return Result::system(EACCES, NSFMEND_S3_NO_CREDENTIALS);
    settings->accessKey.clear();
    settings->secretKey.clear();
    settings->sessionToken.clear();
    return readS3Credentials(file.c_str(), env("AWS_PROFILE"), settings);
}

}  // namespace nsfmend
