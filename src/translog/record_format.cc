// Archive records: their names and their text.
#include "translog/record_format.h"

#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

#include "support/sha256.h"
#include "support/text.h"

namespace nsfmend {
namespace {

const char kRecordPrefix[] = "nsfmend-archive-";
const char kRecordExtension[] = ".sha256";
// YYYYMMDDTHHMMSSZ
constexpr size_t kStampLength = 16;
const char kHeader[] = "# nsfmend archive record 1";
const char kHeaderLine[] =
    "# nsfmend archive record 1: sha256sum -c <record> checks it in its folder\n";
const char kSizeTag[] = "# size ";
const char kLogTag[] = " log ";

bool isLogIdText(std::string_view text) {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

// sha256sum's escaping of a name: the line then starts with a backslash.
bool needsEscape(std::string_view name) {
    return name.find_first_of("\\\n\r") != std::string_view::npos;
}

std::string escapeName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

bool unescapeName(std::string_view text, std::string *name) {
    name->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *name += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        if (text[i] == '\\')
            *name += '\\';
        else if (text[i] == 'n')
            *name += '\n';
        else if (text[i] == 'r')
            *name += '\r';
        else
            return false;
    }
    return true;
}

// "# size N" or "# size N log X" into entry's size and log ID.
bool parseSizeLine(std::string_view line, RecordEntry *entry) {
    line.remove_prefix(sizeof kSizeTag - 1);
    std::string_view digits = line.substr(0, line.find(' '));
    // At most 20 digits: anything longer is past what 64 bits hold anyway.
    if (!allDigits(digits) || digits.size() > 20) return false;
    errno = 0;
    const unsigned long long size = strtoull(std::string(digits).c_str(), nullptr, 10);
    if (errno != 0) return false;
    entry->size = size;
    entry->logId.clear();
    line.remove_prefix(digits.size());
    if (line.empty()) return true;
    if (line.substr(0, sizeof kLogTag - 1) != kLogTag) return false;
    line.remove_prefix(sizeof kLogTag - 1);
    if (!isLogIdText(line)) return false;
    entry->logId = std::string(line);
    return true;
}

// "<sum>  <name>" (or " *" for sha256sum's binary mode), escaped or not.
bool parseSumLine(std::string_view line, RecordEntry *entry) {
    const bool escaped = !line.empty() && line[0] == '\\';
    if (escaped) line.remove_prefix(1);
    if (line.size() < 67 || !isHexDigest(line.substr(0, 64))) return false;
    if (line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) return false;
    entry->sha256 = std::string(line.substr(0, 64));
    const std::string_view name = line.substr(66);
    if (escaped) {
        if (!unescapeName(name, &entry->name)) return false;
    } else {
        entry->name = std::string(name);
    }
    // A record names files of its own folder, and nothing else.
    return !entry->name.empty() && entry->name.find('/') == std::string::npos &&
           entry->name != "." && entry->name != "..";
}

}  // namespace

std::string archiveRecordName(time_t stamp) {
    struct tm utc = {};
    char text[32] = {};
    if (gmtime_r(&stamp, &utc) == nullptr ||
        strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc) != kStampLength)
        (void)snprintf(text, sizeof text, "%s", "00000000T000000Z");
    return std::string(kRecordPrefix) + text + kRecordExtension;
}

bool parseArchiveRecordName(std::string_view name, time_t *stamp) {
    const size_t prefix = sizeof kRecordPrefix - 1, extension = sizeof kRecordExtension - 1;
    if (name.size() != prefix + kStampLength + extension) return false;
    if (name.substr(0, prefix) != kRecordPrefix) return false;
    if (name.substr(prefix + kStampLength) != kRecordExtension) return false;
    const std::string_view text = name.substr(prefix, kStampLength);
    if (!allDigits(text.substr(0, 8)) || text[8] != 'T' || !allDigits(text.substr(9, 6)) ||
        text[15] != 'Z')
        return false;
    // Digits only, checked above.
    auto number = [&](size_t at, size_t length) {
        int value = 0;
        for (char c : text.substr(at, length)) value = value * 10 + (c - '0');
        return value;
    };
    struct tm utc = {};
    utc.tm_year = number(0, 4) - 1900;
    utc.tm_mon = number(4, 2) - 1;
    utc.tm_mday = number(6, 2);
    utc.tm_hour = number(9, 2);
    utc.tm_min = number(11, 2);
    utc.tm_sec = number(13, 2);
    const time_t when = timegm(&utc);
    // Only the name archiveRecordName gives that time: no 31 February.
    if (when == (time_t)-1 || archiveRecordName(when) != name) return false;
    if (stamp != nullptr) *stamp = when;
    return true;
}

std::string logIdText(const UNID &logId) {
    char text[40];
    (void)snprintf(text, sizeof text, "%08" PRIX32 "%08" PRIX32 "%08" PRIX32 "%08" PRIX32,
                   (uint32_t)logId.Words[0], (uint32_t)logId.Words[1], (uint32_t)logId.Words[2],
                   (uint32_t)logId.Words[3]);
    return text;
}

std::string formatRecord(const std::vector<RecordEntry> &entries) {
    std::string text = kHeaderLine;
    for (const RecordEntry &entry : entries) {
        text += kSizeTag + std::to_string(entry.size);
        if (!entry.logId.empty()) text += kLogTag + entry.logId;
        text += '\n';
        if (needsEscape(entry.name))
            text += "\\" + entry.sha256 + "  " + escapeName(entry.name) + "\n";
        else
            text += entry.sha256 + "  " + entry.name + "\n";
    }
    return text;
}

size_t parseRecord(std::string_view text, std::vector<RecordEntry> *entries) {
    entries->clear();
    size_t number = 0;
    bool identified = false;  // a "# size" line waits for its checksum line
    RecordEntry entry;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        // A last line without its line feed: the record was cut short.
        if (end == std::string_view::npos) return number;
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (number == 1) {
            const std::string_view header = line.substr(0, sizeof kHeader - 1);
            if (header != kHeader || (line.size() > header.size() && line[header.size()] != ':'))
                return number;
            continue;
        }
        if (line.substr(0, sizeof kSizeTag - 1) == kSizeTag) {
            if (identified || !parseSizeLine(line, &entry)) return number;
            identified = true;
            continue;
        }
        if (!line.empty() && line[0] == '#') continue;  // a comment, as sha256sum takes it
        if (!identified || !parseSumLine(line, &entry)) return number;
        entries->push_back(entry);
        identified = false;
    }
    if (number == 0) return 1;  // not even the header
    return identified ? number : 0;
}

}  // namespace nsfmend
