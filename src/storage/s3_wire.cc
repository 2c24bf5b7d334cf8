#include "storage/s3_wire.h"

#include <curl/curl.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

namespace nsfmend {
namespace {

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The five entities XML predefines, and numeric references.
std::string xmlDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const size_t end = text.find(';', i);
        if (end == std::string_view::npos) {
            out += text.substr(i);
            break;
        }
        const std::string_view entity = text.substr(i + 1, end - i - 1);
        if (entity == "amp") {
            out += '&';
        } else if (entity == "lt") {
            out += '<';
        } else if (entity == "gt") {
            out += '>';
        } else if (entity == "quot") {
            out += '"';
        } else if (entity == "apos") {
            out += '\'';
        } else if (!entity.empty() && entity[0] == '#') {
            const bool hex = entity.size() > 1 && (entity[1] == 'x' || entity[1] == 'X');
            const std::string digits(entity.substr(hex ? 2 : 1));
            char *stop = nullptr;
            const unsigned long code = strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (digits.empty() || *stop != '\0' || code > 0x10FFFF) {
                out += text.substr(i, end - i + 1);
            } else if (code < 0x80) {
                out += (char)code;
            } else if (code < 0x800) {
                out += (char)(0xC0 | (code >> 6));
                out += (char)(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                out += (char)(0xE0 | (code >> 12));
                out += (char)(0x80 | ((code >> 6) & 0x3F));
                out += (char)(0x80 | (code & 0x3F));
            } else {
                out += (char)(0xF0 | (code >> 18));
                out += (char)(0x80 | ((code >> 12) & 0x3F));
                out += (char)(0x80 | ((code >> 6) & 0x3F));
                out += (char)(0x80 | (code & 0x3F));
            }
        } else {
            out += text.substr(i, end - i + 1);
        }
        i = end;
    }
    return out;
}

// The next element <tag>...</tag> (or <tag/>) from `from` on; its content
// raw, and where the search goes on after it.
bool nextElement(std::string_view doc, std::string_view tag, size_t *from, std::string_view *content) {
    const std::string open = "<" + std::string(tag);
    size_t at = *from;
    for (;;) {
        at = doc.find(open, at);
        if (at == std::string_view::npos) return false;
        const size_t after = at + open.size();
        if (after >= doc.size()) return false;
        if (doc[after] == '>' || doc[after] == ' ') break;
        if (doc.substr(after, 2) == "/>") {
            *content = std::string_view();
            *from = after + 2;
            return true;
        }
        at = after;
    }
    const size_t start = doc.find('>', at);
    if (start == std::string_view::npos) return false;
    if (doc[start - 1] == '/') {
        *content = std::string_view();
        *from = start + 1;
        return true;
    }
    const std::string close = "</" + std::string(tag) + ">";
    const size_t end = doc.find(close, start + 1);
    if (end == std::string_view::npos) return false;
    *content = doc.substr(start + 1, end - start - 1);
    *from = end + close.size();
    return true;
}

std::string elementText(std::string_view doc, std::string_view tag) {
    size_t from = 0;
    std::string_view content;
    return nextElement(doc, tag, &from, &content) ? xmlDecode(content) : "";
}

// The document's first element's name, past an XML declaration, comments
// and blanks; empty when the text does not start as a document does.
std::string_view rootName(std::string_view doc) {
    size_t at = 0;
    for (;;) {
        at = doc.find_first_not_of(" \t\r\n", at);
        if (at == std::string_view::npos || doc[at] != '<' || at + 1 >= doc.size()) return "";
        if (doc[at + 1] != '?' && doc[at + 1] != '!') break;
        at = doc.find('>', at);
        if (at == std::string_view::npos) return "";
        ++at;
    }
    const size_t end = doc.find_first_of(" />\t\r\n", at + 1);
    if (end == std::string_view::npos) return "";
    return doc.substr(at + 1, end - at - 1);
}

// An ISO 8601 time in UTC as a listing gives it: 2013-11-15T12:00:00.000Z.
time_t utcTime(const std::string &text) {
    struct tm utc = {};
    if (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
               &utc.tm_hour, &utc.tm_min, &utc.tm_sec) != 6)
        return 0;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const time_t when = timegm(&utc);
    return when == (time_t)-1 ? 0 : when;
}

}  // namespace

std::string uriEncode(std::string_view text, bool keepSlash) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        if (isUnreserved(c) || (keepSlash && c == '/')) {
            out += c;
        } else {
            out += '%';
            out += kHex[((unsigned char)c >> 4) & 0xF];
            out += kHex[(unsigned char)c & 0xF];
        }
    }
    return out;
}

std::string uriDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += (char)(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string canonicalQuery(std::vector<std::pair<std::string, std::string>> parameters) {
    for (auto &[name, value] : parameters) {
        name = uriEncode(name, false);
        value = uriEncode(value, false);
    }
    std::sort(parameters.begin(), parameters.end());
    std::string out;
    for (const auto &[name, value] : parameters) {
        if (!out.empty()) out += '&';
        out.append(name).append("=").append(value);
    }
    return out;
}

bool parseS3Error(std::string_view body, S3Error *error) {
    *error = S3Error();
    if (rootName(body) != "Error") return false;
    error->code = elementText(body, "Code");
    error->message = elementText(body, "Message");
    return true;
}

bool parseS3Listing(std::string_view body, S3Listing *listing) {
    *listing = S3Listing();
    if (rootName(body) != "ListBucketResult") return false;
    const bool encoded = elementText(body, "EncodingType") == "url";
    auto key = [encoded](std::string_view raw) {
        const std::string text = xmlDecode(raw);
        return encoded ? uriDecode(text) : text;
    };
    size_t from = 0;
    std::string_view contents;
    while (nextElement(body, "Contents", &from, &contents)) {
        S3Listing::Object object;
        size_t inner = 0;
        std::string_view raw;
        if (!nextElement(contents, "Key", &inner, &raw)) return false;
        object.key = key(raw);
        const std::string size = elementText(contents, "Size");
        char *end = nullptr;
        errno = 0;
        object.size = strtoull(size.c_str(), &end, 10);
        if (size.empty() || *end != '\0' || errno != 0) return false;
        object.modified = utcTime(elementText(contents, "LastModified"));
        listing->objects.push_back(std::move(object));
    }
    from = 0;
    std::string_view common;
    while (nextElement(body, "CommonPrefixes", &from, &common)) {
        size_t inner = 0;
        std::string_view raw;
        if (nextElement(common, "Prefix", &inner, &raw)) listing->prefixes.push_back(key(raw));
    }
    listing->truncated = elementText(body, "IsTruncated") == "true";
    listing->nextToken = elementText(body, "NextContinuationToken");
    return !listing->truncated || !listing->nextToken.empty();
}

Outcome judgeAttempt(int transport, long status, const std::string &code) {
    switch (transport) {
        case CURLE_OK: break;
        // The connection dropped, stalled or never came: the whole request
        // again may get through.
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_SSL_CONNECT_ERROR: return Outcome::kRetry;
        default: return Outcome::kFail;  // a name that does not resolve, a bad certificate, ...
    }
    // The store's word for "busy" or "try again", in any status.
    if (code == "InternalError" || code == "ServiceUnavailable" || code == "SlowDown" ||
        code == "RequestTimeout")
        return Outcome::kRetry;
    if (status >= 500 || status == 408 || status == 429) return Outcome::kRetry;
    if (status >= 200 && status < 300) return code.empty() ? Outcome::kSuccess : Outcome::kFail;
    return Outcome::kFail;
}

}  // namespace nsfmend
