// An archive checked whole: its records, its chain, and what the server's
// log directory holds beyond it.
#include "translog/archive_check.h"

#include <errno.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "storage/folder_storage.h"
#include "support/path.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

using Copies = std::map<DWORD, std::vector<const StoredEntry *>>;

// The readable copies of one extent, and the ones that cannot serve.
struct CopyDigest {
    const StoredEntry *entry;
    const ReadDigest *read;
};

// Where two copies of one extent need each other's digests: each copy at
// the listed sizes of the shorter ones, so the longest can be compared with
// every other from one read.
MarksByName copyMarks(const Copies &copies) {
    MarksByName marks;
    for (const auto &[number, group] : copies) {
        if (group.size() < 2) continue;
        for (const StoredEntry *copy : group) {
            std::vector<uint64_t> &own = marks[copy->name];
            for (const StoredEntry *other : group)
                if (other != copy && other->size < copy->size) own.push_back(other->size);
        }
    }
    return marks;
}

bool unreadableAsNotRegular(const Result &result) {
    return result.error() == EINVAL || result.error() == EISDIR;
}

// The copy the others are compared with: the longest, and of copies equally
// long the first name in byte order, so that what a check reports depends on
// the content alone, never on the order of a listing.
size_t referenceCopy(const std::vector<CopyDigest> &copies) {
    size_t best = 0;
    for (size_t i = 1; i < copies.size(); ++i) {
        const uint64_t size = copies[i].read->digest.size, bestSize = copies[best].read->digest.size;
        if (size > bestSize || (size == bestSize && copies[i].entry->name < copies[best].entry->name))
            best = i;
    }
    return best;
}

// The chain of the archive's extents from its listing: each extent opened
// (or read, where its copies are compared), every copy the reference copy
// or its start.
class ChainBuilder {
public:
    ChainBuilder(Storage &storage, ReadDigests *digests, ArchiveCheck *check)
        : storage_(storage), digests_(*digests), check_(*check) {}

    void build(const Copies &copies, const MarksByName &marks) {
        ExtentChain &chain = check_.chain;
        for (const auto &[number, group] : copies) {
            if (!chain.numbers.empty() && number > chain.numbers.back() + 1)
                chain.missing.push_back(ExtentRange{chain.numbers.back() + 1, number - 1});
            chain.numbers.push_back(number);
            std::vector<CopyDigest> readable;
            for (const StoredEntry *copy : group) {
                const ReadDigest *read = nullptr;
                if (usable(*copy, group.size() > 1, marks, &read) && read != nullptr)
                    readable.push_back(CopyDigest{copy, read});
            }
            compare(number, &readable);
        }
    }

private:
    void bad(const std::string &name, const Result &result) {
        const bool notRegular = unreadableAsNotRegular(result);
        const int error = result.error() != 0 ? result.error() : -1;
        check_.chain.bad.push_back(BadExtentFile{name, notRegular, notRegular ? 0 : error});
        if (!notRegular && !result.text().empty()) check_.reasons[name] = result.text();
    }

    // Whether the copy can serve; a copy to compare is read (once), *read
    // then holds its digest.
    bool usable(const StoredEntry &copy, bool compared,
                const MarksByName &marks, const ReadDigest **read) {
        if (copy.kind == StoredKind::kNotRegular) {
            check_.chain.bad.push_back(BadExtentFile{copy.name, true, 0});
            return false;
        }
        auto found = digests_.find(copy.name);
        if (found == digests_.end() && compared) {
            const auto own = marks.find(copy.name);
            found = digests_
                        .emplace(copy.name, readDigest(storage_, copy.name,
                                                       own != marks.end() ? own->second
                                                                          : std::vector<uint64_t>{}))
                        .first;
        }
        if (found == digests_.end()) {
            const Result probed = storage_.probe(copy.name);
            if (!probed.isOk()) bad(copy.name, probed);
            return probed.isOk();
        }
        if (!found->second.result.isOk()) {
            bad(copy.name, found->second.result);
            return false;
        }
        *read = &found->second;
        return true;
    }

    // The digest of the reference copy's first `size` bytes, read again with
    // that mark where its listed size did not foresee it (a file that
    // changed while it was checked).
    std::string startOf(const CopyDigest &reference, uint64_t size) {
        std::string digest = reference.read->at(size);
        if (!digest.empty()) return digest;
        ReadDigest again = readDigest(storage_, reference.entry->name, {size});
        return again.result.isOk() ? again.at(size) : "";
    }

    // Every copy must be the reference copy or its start; the first that is
    // neither is reported.
    void compare(DWORD number, std::vector<CopyDigest> *copies) {
        if (copies->size() < 2) return;
        const size_t longest = referenceCopy(*copies);
        const CopyDigest &reference = (*copies)[longest];
        for (size_t i = 0; i < copies->size(); ++i) {
            if (i == longest) continue;
            const FileDigest &own = (*copies)[i].read->digest;
            if (own.size <= reference.read->digest.size && startOf(reference, own.size) == own.whole)
                continue;
            check_.chain.disagreeing.push_back(
                DisagreeingCopies{number, reference.entry->name, (*copies)[i].entry->name});
            return;
        }
    }

    Storage &storage_;
    ReadDigests &digests_;
    ArchiveCheck &check_;
};

}  // namespace

Result checkArchive(Storage &storage, const char *logDir, ArchiveCheck *check) {
    *check = ArchiveCheck();
    Result listed = storage.list(&check->entries);
    if (!listed.isOk()) return listed;
    // The server's own state file is never an archived one.
    std::vector<StoredEntry> &entries = check->entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const StoredEntry &e) { return e.name == kLogControlFileName; }),
                  entries.end());

    // Which names are extents depends on the records, which the record
    // check reads first; the marks the copies need are asked of that read.
    ArchiveRecords records;
    readArchiveRecords(storage, entries, &records);
    check->recorded = !records.latest.empty();
    const std::set<std::string> suffixes = recordedSuffixes(records);
    Copies copies;
    for (const StoredEntry &entry : entries) {
        DWORD number = 0;
        if (isExtentOf(entry.name, ExtentNames::kAnySuffix, check->recorded ? &suffixes : nullptr,
                       entry.folder, &number))
            copies[number].push_back(&entry);
        else
            check->chain.others.push_back(entry.name);
    }
    const auto marks = copyMarks(copies);
    ReadDigests digests;
    checkStoredRecords(storage, entries, ExtentNames::kAnySuffix, std::move(records), &marks,
                       &digests, &check->records);
    ChainBuilder(storage, &digests, check).build(copies, marks);

    // The chain runs from the first extent any record names, or the first
    // present, to the last of either.
    std::vector<DWORD> ends = recordedExtents(check->records.records);
    if (!check->chain.numbers.empty()) {
        ends.push_back(check->chain.numbers.front());
        ends.push_back(check->chain.numbers.back());
    }
    if (!ends.empty()) {
        const auto [lo, hi] = std::minmax_element(ends.begin(), ends.end());
        check->missing = rangesNotIn(*lo, *hi, check->chain.numbers);
    }

    check->withServer = logDir != nullptr && logDir[0] != '\0';
    if (!check->withServer) return Result::ok();
    // The server reads bare names only; so does this look at its folder.
    check->serverError = checkExtentChain(logDir, ExtentNames::kBare, &check->server);
    if (check->serverError == 0) check->lacking = extentsNotIn(check->server, check->chain);
    return Result::ok();
}

int checkArchiveFolder(const char *archiveDir, const char *logDir, ArchiveCheck *check) {
    FolderStorage storage(joinPath(archiveDir, ""), archiveDir);
    const Result checked = checkArchive(storage, logDir, check);
    if (checked.isOk()) return 0;
    return checked.error() != 0 ? checked.error() : -1;
}

std::string describeMismatch(const RecordFinding &finding) {
    std::string text = finding.size == finding.recordedSize
                           ? std::string("same size, another SHA-256")
                           : "size " + std::to_string(finding.size) + ", recorded " +
                                 std::to_string(finding.recordedSize);
    if (finding.recordedName != finding.name) text += ", recorded as " + finding.recordedName;
    return text;
}

std::string describeLogs(const std::vector<RecordedLog> &logs) {
    std::string text;
    for (const RecordedLog &log : logs)
        text += (text.empty() ? "" : ", ") + log.logId + " (from " + log.firstExtent + ")";
    return text;
}

}  // namespace nsfmend
