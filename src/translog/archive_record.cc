// The records of a place and its files against them.
#include "translog/archive_record.h"

#include <errno.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "storage/folder_storage.h"
#include "support/path.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

// Collects a whole entry's bytes (a record: a small text).
class TextSink : public ByteSink {
public:
    explicit TextSink(std::string *text) : text_(text) {}
    int write(const void *data, size_t size) override {
        text_->append(static_cast<const char *>(data), size);
        return 0;
    }
    int restart() override {
        text_->clear();
        return 0;
    }

private:
    std::string *text_;
};

class DigestSink : public ByteSink {
public:
    explicit DigestSink(std::vector<uint64_t> marks) : hash_(std::move(marks)) {}
    int write(const void *data, size_t size) override {
        hash_.update(data, size);
        return 0;
    }
    int restart() override {
        hash_.restart();
        return 0;
    }
    FileDigest result() const { return hash_.result(); }

private:
    MarkedSha256 hash_;
};

// A folder's listing, as the log directory's listing gives it: the log
// control file is the server's own, never an archived file.
int listFolder(const char *dir, std::unique_ptr<Storage> *storage,
               std::vector<StoredEntry> *entries) {
    *storage = std::make_unique<FolderStorage>(joinPath(dir, ""), dir);
    const Result listed = (*storage)->list(entries);
    if (!listed.isOk()) return listed.error() != 0 ? listed.error() : -1;
    entries->erase(std::remove_if(entries->begin(), entries->end(),
                                  [](const StoredEntry &e) { return e.name == kLogControlFileName; }),
                   entries->end());
    return 0;
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

// The file judged against its candidate lines from its digest: the first
// that it matches, else the first it has grown from, else the first.
RecordFinding judge(const StoredEntry &file, const ReadDigest *read,
                    const std::vector<const RecordedFile *> &candidates) {
    RecordFinding finding;
    finding.name = file.name;
    const RecordedFile *chosen = candidates.front();
    finding.match = RecordMatch::kDiffers;
    if (read == nullptr) {
        // Never opened: a FIFO would block, a device never end.
        finding.match = RecordMatch::kUnreadable;
        finding.error = EINVAL;
    } else if (!read->result.isOk()) {
        finding.match = RecordMatch::kUnreadable;
        finding.error = read->result.error() != 0 ? read->result.error() : -1;
        finding.reason = read->result.text();
    } else {
        const FileDigest &digest = read->digest;
        finding.size = digest.size;
        finding.sha256 = digest.whole;
        for (const RecordedFile *candidate : candidates) {
            const RecordEntry &line = candidate->entry;
            if (line.size == digest.size && line.sha256 == digest.whole) {
                chosen = candidate;
                finding.match = RecordMatch::kMatches;
                break;
            }
            if (finding.match == RecordMatch::kDiffers && line.size < digest.size &&
                read->at(line.size) == line.sha256) {
                chosen = candidate;
                finding.match = RecordMatch::kGrown;
            }
        }
    }
    finding.record = chosen->record;
    finding.recordedName = chosen->entry.name;
    finding.recordedSize = chosen->entry.size;
    finding.recordedSha256 = chosen->entry.sha256;
    finding.logId = chosen->entry.logId;
    return finding;
}

}  // namespace

std::string ReadDigest::at(uint64_t size) const {
    if (size == digest.size && result.isOk()) return digest.whole;
    for (size_t i = 0; i < marks.size() && i < digest.atMarks.size(); ++i)
        if (marks[i] == size) return digest.atMarks[i];
    return "";
}

ReadDigest readDigest(Storage &storage, const std::string &name, std::vector<uint64_t> marks) {
    ReadDigest read;
    std::sort(marks.begin(), marks.end());
    marks.erase(std::unique(marks.begin(), marks.end()), marks.end());
    read.marks = marks;
    DigestSink sink(std::move(marks));
    read.result = storage.read(name, &sink);
    if (read.result.isOk()) read.digest = sink.result();
    return read;
}

void readArchiveRecords(Storage &storage, const std::vector<StoredEntry> &entries,
                        ArchiveRecords *records) {
    *records = ArchiveRecords();
    // A FIFO, socket, device or folder of a record's name is never opened: it
    // could block, fail with a code that says nothing of what it is, or
    // act on a device. It cannot be read as a record: EINVAL.
    std::set<std::string> notRegular;
    for (const StoredEntry &entry : entries) {
        if (!parseArchiveRecordName(entry.name, nullptr)) continue;
        records->records.push_back(entry.name);
        if (entry.kind == StoredKind::kNotRegular) notRegular.insert(entry.name);
    }
    // Byte order of these names is the order of their times.
    std::sort(records->records.begin(), records->records.end());
    for (const std::string &name : records->records) {
        std::string text;
        TextSink sink(&text);
        const Result read =
            notRegular.count(name) != 0 ? Result::system(EINVAL) : storage.read(name, &sink);
        if (!read.isOk()) {
            const int error = read.error() != 0 ? read.error() : -1;
            records->faults.push_back(RecordFault{name, error, 0, read.text()});
            continue;
        }
        std::vector<RecordEntry> lines;
        const size_t bad = parseRecord(text, &lines);
        if (bad != 0) {
            records->faults.push_back(RecordFault{name, 0, bad, ""});
            continue;
        }
        std::vector<std::string> &named = records->named[name];
        for (RecordEntry &line : lines) {
            const std::string key = line.name;
            named.push_back(key);
            records->latest[key] = RecordedFile{std::move(line), name};
        }
    }
}

int readArchiveRecords(const char *dir, ArchiveRecords *records) {
    *records = ArchiveRecords();
    std::unique_ptr<Storage> storage;
    std::vector<StoredEntry> entries;
    const int listed = listFolder(dir, &storage, &entries);
    if (listed != 0) return listed;
    readArchiveRecords(*storage, entries, records);
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
    std::unique_ptr<Storage> storage;
    std::vector<StoredEntry> entries;
    const int listed = listFolder(dir, &storage, &entries);
    if (listed != 0) return listed;
    ArchiveRecords records;
    readArchiveRecords(*storage, entries, &records);
    checkStoredRecords(*storage, entries, names, std::move(records), nullptr, nullptr, check);
    return 0;
}

void checkStoredRecords(Storage &storage, const std::vector<StoredEntry> &entries,
                        ExtentNames names, ArchiveRecords records, const MarksByName *moreMarks,
                        ReadDigests *digests, RecordCheck *check) {
    *check = RecordCheck();
    check->records = std::move(records);
    const ArchiveRecords &recorded = check->records;
    const auto copies = byExtent(recorded);
    const bool bare = names == ExtentNames::kBare;
    const std::set<std::string> suffixes = recordedSuffixes(recorded);
    // The server's bare names are its extents whatever the records use.
    const std::set<std::string> *rule = !bare && !recorded.latest.empty() ? &suffixes : nullptr;

    std::set<std::string> present;
    std::set<DWORD> presentExtents;
    for (const StoredEntry &file : entries) {
        present.insert(file.name);
        DWORD number = 0;
        if (isExtentOf(file.name, names, rule, file.folder, &number)) presentExtents.insert(number);
    }

    ReadDigests own;
    ReadDigests &read = digests != nullptr ? *digests : own;
    for (const StoredEntry &file : entries) {
        if (parseArchiveRecordName(file.name, nullptr)) continue;
        const auto line = recorded.latest.find(file.name);
        DWORD number = 0;
        const bool extent = isExtentOf(file.name, names, rule, file.folder, &number);
        std::vector<const RecordedFile *> candidates;
        if (line != recorded.latest.end()) {
            candidates.push_back(&line->second);
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
        const ReadDigest *digest = nullptr;
        if (file.kind != StoredKind::kNotRegular) {
            std::vector<uint64_t> marks(candidates.size());
            std::transform(candidates.begin(), candidates.end(), marks.begin(),
                           [](const RecordedFile *candidate) { return candidate->entry.size; });
            if (moreMarks != nullptr) {
                const auto more = moreMarks->find(file.name);
                if (more != moreMarks->end())
                    marks.insert(marks.end(), more->second.begin(), more->second.end());
            }
            digest = &(read[file.name] = readDigest(storage, file.name, marks));
        }
        check->findings.push_back(judge(file, digest, candidates));
    }

    std::map<std::string, std::string> logs;  // log ID -> first extent named with it
    for (const auto &[name, line] : recorded.latest) {
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
        finding.recordedSha256 = line.entry.sha256;
        finding.logId = line.entry.logId;
        check->findings.push_back(finding);
    }
    for (const auto &[logId, extent] : logs) check->logs.push_back(RecordedLog{logId, extent});
    // In the order of their first extents: the order the server wrote them.
    std::sort(check->logs.begin(), check->logs.end(),
              [](const RecordedLog &a, const RecordedLog &b) { return a.firstExtent < b.firstExtent; });
}

size_t countMatches(const RecordCheck &check, RecordMatch match) {
    return (size_t)std::count_if(check.findings.begin(), check.findings.end(),
                                 [match](const RecordFinding &f) { return f.match == match; });
}

}  // namespace nsfmend
