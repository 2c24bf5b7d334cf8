// Archive records: their names, their text, the records of a folder, a
// folder's files against them, and the writer an archiving run keeps its
// record with.
#include "translog/archive_record.h"

#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <utility>

#include "support/durable.h"
#include "support/path.h"
#include "support/raii.h"
#include "support/sha256.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/log_directory.h"

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

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

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

// The copies of each extent number the records name.
std::map<DWORD, std::vector<const RecordedFile *>> byExtent(const ArchiveRecords &records) {
    std::map<DWORD, std::vector<const RecordedFile *>> out;
    for (const auto &[name, recorded] : records.latest) {
        DWORD number = 0;
        std::string_view suffix;
        if (parseExtentName(name, &number, &suffix)) out[number].push_back(&recorded);
    }
    return out;
}

// Reads the file and judges it against its candidate lines: the first that
// it matches, else the first it has grown from, else the first.
RecordFinding judge(const char *dir, const LogFile &file,
                    const std::vector<const RecordedFile *> &candidates) {
    RecordFinding finding;
    finding.name = file.name;
    const RecordedFile *chosen = candidates.front();
    auto choose = [&](const RecordedFile *candidate, RecordMatch match) {
        chosen = candidate;
        finding.match = match;
    };
    finding.match = RecordMatch::kDiffers;
    if (file.kind == LogFileKind::kNotRegular) {
        finding.match = RecordMatch::kUnreadable;
        finding.error = EINVAL;
    } else {
        // A FIFO would block the open and a device never end.
        UniqueFd fd(open(joinPath(dir, file.name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        FileDigest digest;
        int rc = fd.valid() ? 0 : lastError();
        if (rc == 0 && fstat(fd.get(), &st) != 0) rc = lastError();
        if (rc == 0 && !S_ISREG(st.st_mode)) rc = EINVAL;
        std::vector<uint64_t> marks;
        marks.reserve(candidates.size());
        for (const RecordedFile *candidate : candidates) marks.push_back(candidate->entry.size);
        if (rc == 0) rc = sha256File(fd.get(), marks, &digest);
        if (rc != 0) {
            finding.match = RecordMatch::kUnreadable;
            finding.error = rc;
        } else {
            finding.size = digest.size;
            for (size_t i = 0; i < candidates.size(); ++i) {
                const RecordEntry &line = candidates[i]->entry;
                if (line.size == digest.size && line.sha256 == digest.whole) {
                    choose(candidates[i], RecordMatch::kMatches);
                    break;
                }
                if (finding.match == RecordMatch::kDiffers && line.size < digest.size &&
                    digest.atMarks[i] == line.sha256)
                    choose(candidates[i], RecordMatch::kGrown);
            }
        }
    }
    finding.record = chosen->record;
    finding.recordedName = chosen->entry.name;
    finding.recordedSize = chosen->entry.size;
    finding.logId = chosen->entry.logId;
    return finding;
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

int readArchiveRecords(const char *dir, ArchiveRecords *records) {
    *records = ArchiveRecords();
    std::vector<LogFile> files;
    const int listed = listLogDirectory(dir, &files);
    if (listed != 0) return listed;
    // A FIFO, socket, device or folder of a record's name is never opened: it
    // could block, fail with a code that says nothing of what it is, or
    // act on a device. It cannot be read as a record: EINVAL.
    std::set<std::string> notRegular;
    for (const LogFile &file : files) {
        if (!parseArchiveRecordName(file.name, nullptr)) continue;
        records->records.push_back(file.name);
        if (file.kind == LogFileKind::kNotRegular) notRegular.insert(file.name);
    }
    // Byte order of these names is the order of their times, whatever the
    // listing's collation.
    std::sort(records->records.begin(), records->records.end());
    for (const std::string &name : records->records) {
        std::string text;
        const int error = notRegular.count(name) != 0
                              ? EINVAL
                              : readWholeFile(joinPath(dir, name).c_str(), &text);
        if (error != 0) {
            records->faults.push_back(RecordFault{name, error, 0});
            continue;
        }
        std::vector<RecordEntry> entries;
        const size_t bad = parseRecord(text, &entries);
        if (bad != 0) {
            records->faults.push_back(RecordFault{name, 0, bad});
            continue;
        }
        for (RecordEntry &entry : entries) {
            const std::string key = entry.name;
            records->latest[key] = RecordedFile{std::move(entry), name};
        }
    }
    return 0;
}

std::set<std::string> recordedSuffixes(const ArchiveRecords &records) {
    std::set<std::string> out;
    for (const auto &[name, recorded] : records.latest) {
        DWORD number = 0;
        std::string_view suffix;
        if (parseExtentName(name, &number, &suffix)) out.insert(std::string(suffix));
    }
    return out;
}

std::vector<DWORD> recordedExtents(const ArchiveRecords &records) {
    std::set<DWORD> numbers;
    for (const auto &[name, recorded] : records.latest) {
        DWORD number = 0;
        std::string_view suffix;
        if (parseExtentName(name, &number, &suffix)) numbers.insert(number);
    }
    return std::vector<DWORD>(numbers.begin(), numbers.end());
}

int checkArchiveRecords(const char *dir, ExtentNames names, RecordCheck *check) {
    *check = RecordCheck();
    int rc = readArchiveRecords(dir, &check->records);
    if (rc != 0) return rc;
    std::vector<LogFile> files;
    rc = listLogDirectory(dir, &files);
    if (rc != 0) return rc;
    const ArchiveRecords &records = check->records;
    const auto copies = byExtent(records);
    const bool bare = names == ExtentNames::kBare;
    const bool recorded = !records.latest.empty();
    const std::set<std::string> suffixes = recordedSuffixes(records);
    UniqueFd folder(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));

    // Whether a name is an extent of this folder, and which.
    auto extentOf = [&](const LogFile &file, DWORD *number) {
        std::string_view suffix;
        if (!parseExtentName(file.name, number, &suffix)) return false;
        if (bare) return suffix.empty();
        if (!recorded) return true;
        struct stat st;
        const bool isFolder = file.kind == LogFileKind::kNotRegular && folder.valid() &&
                              fstatat(folder.get(), file.name.c_str(), &st, 0) == 0 &&
                              S_ISDIR(st.st_mode);
        return suffixes.count(std::string(suffix)) != 0 && !isFolder;
    };

    std::set<std::string> present;
    std::set<DWORD> presentExtents;
    for (const LogFile &file : files) {
        present.insert(file.name);
        DWORD number = 0;
        if (extentOf(file, &number)) presentExtents.insert(number);
    }

    for (const LogFile &file : files) {
        if (parseArchiveRecordName(file.name, nullptr)) continue;
        const auto own = records.latest.find(file.name);
        DWORD number = 0;
        const bool extent = extentOf(file, &number);
        std::vector<const RecordedFile *> candidates;
        if (own != records.latest.end()) {
            candidates.push_back(&own->second);
        } else if (extent) {
            const auto others = copies.find(number);
            if (others == copies.end()) {
                RecordFinding finding;
                finding.name = file.name;
                finding.match = RecordMatch::kUnrecorded;
                check->findings.push_back(finding);
                continue;
            }
            candidates = others->second;
        } else {
            continue;  // neither recorded nor an extent: not the records' business
        }
        check->findings.push_back(judge(dir, file, candidates));
    }

    std::map<std::string, std::string> logs;  // log ID -> first extent named with it
    for (const auto &[name, line] : records.latest) {
        DWORD number = 0;
        std::string_view suffix;
        const bool extent = parseExtentName(name, &number, &suffix);
        if (extent && !line.entry.logId.empty() && logs.count(line.entry.logId) == 0)
            logs[line.entry.logId] = name;
        if (present.count(name) != 0) continue;
        // The server reads bare names: another copy of the extent under its
        // bare name stands for this one, and files that are no extents of
        // its own are not looked for.
        if (bare && (!extent || presentExtents.count(number) != 0)) continue;
        RecordFinding finding;
        finding.name = name;
        finding.match = RecordMatch::kMissing;
        finding.record = line.record;
        finding.recordedName = name;
        finding.recordedSize = line.entry.size;
        finding.logId = line.entry.logId;
        check->findings.push_back(finding);
    }
    for (const auto &[logId, extent] : logs) check->logs.push_back(RecordedLog{logId, extent});
    // In the order of their first extents: the order the server wrote them.
    std::sort(check->logs.begin(), check->logs.end(),
              [](const RecordedLog &a, const RecordedLog &b) { return a.firstExtent < b.firstExtent; });
    return 0;
}

size_t countMatches(const RecordCheck &check, RecordMatch match) {
    return (size_t)std::count_if(check.findings.begin(), check.findings.end(),
                                 [match](const RecordFinding &f) { return f.match == match; });
}

void ArchiveRecordWriter::start(const std::string &folder) {
    started_ = true;
    folder_ = folder;
    // A record that cannot be read is as good as none: the files it named
    // are recorded again, which a later check takes as the newer word.
    ArchiveRecords records;
    (void)readArchiveRecords(folder.c_str(), &records);
    for (const std::string &name : records.records) {
        time_t stamp = 0;
        if (parseArchiveRecordName(name, &stamp) && stamp > newest_) newest_ = stamp;
    }
    for (auto &[name, recorded] : records.latest) known_[name] = recorded.entry;
}

int ArchiveRecordWriter::add(const std::string &path, const UNID *logId, const Sha256 *content) {
    std::string folder, name;
    splitPath(path.c_str(), &folder, &name);
    if (!started_) start(folder);

    RecordEntry entry;
    entry.name = name;
    if (content != nullptr) {
        entry.sha256 = content->hexDigest();
        entry.size = content->length();
    } else {
        UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid()) return lastError();
        FileDigest digest;
        const int rc = sha256File(fd.get(), {}, &digest);
        if (rc != 0) return rc;
        entry.sha256 = digest.whole;
        entry.size = digest.size;
    }
    if (logId != nullptr) entry.logId = logIdText(*logId);

    // Already said: a capture of the very bytes an earlier line holds keeps
    // that line and its log ID.
    const auto known = known_.find(name);
    if (known != known_.end() && known->second.sha256 == entry.sha256 &&
        known->second.size == entry.size &&
        (entry.logId.empty() || entry.logId == known->second.logId))
        return 0;
    known_[name] = entry;
    const auto same = std::find_if(run_.begin(), run_.end(),
                                   [&](const RecordEntry &line) { return line.name == name; });
    if (same != run_.end())
        *same = entry;
    else
        run_.push_back(entry);
    pending_ = true;
    return 0;
}

int ArchiveRecordWriter::write() {
    if (!pending_) return 0;
    // Readable by whoever may read the copies beside it, so that anyone
    // can check them with sha256sum.
    struct stat mode = {};
    mode.st_mode = S_IFREG | 0644;
    mode.st_uid = geteuid();
    mode.st_gid = getegid();
    const std::string text = formatRecord(run_);
    int rc = 0;
    if (name_.empty()) {
        // Later than every record there, even when the clock went back or
        // two runs fall in one second: the names keep the order of the runs.
        time_t stamp = std::max(time(nullptr), newest_ + 1);
        for (int attempt = 0; attempt < 16; ++attempt, ++stamp) {
            name_ = archiveRecordName(stamp);
            rc = writeWholeFile(recordPath().c_str(), text, &mode, Placing::kNoReplace);
            if (rc != EEXIST) break;
        }
        if (rc != 0) name_.clear();
    } else {
        rc = writeWholeFile(recordPath().c_str(), text, &mode, Placing::kReplace);
    }
    if (rc == 0) pending_ = false;
    return rc;
}

std::string ArchiveRecordWriter::recordPath() const {
    if (name_.empty()) return joinPath(folder_, archiveRecordName(std::max(time(nullptr), newest_ + 1)));
    return joinPath(folder_, name_);
}

}  // namespace nsfmend
