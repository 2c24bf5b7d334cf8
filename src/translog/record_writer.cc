// One run's archive record, kept up to date as the run goes.
#include "translog/record_writer.h"

#include <errno.h>

#include <algorithm>

#include "translog/archive_record.h"

namespace nsfmend {

void ArchiveRecordWriter::start() {
    started_ = true;
    // A record that cannot be read is as good as none: the files it named
    // are recorded again, which a later check takes as the newer word.
    std::vector<StoredEntry> entries;
    ArchiveRecords records;
    if (storage_.list(&entries).isOk()) readArchiveRecords(storage_, entries, &records);
    for (const std::string &name : records.records) {
        time_t stamp = 0;
        if (parseArchiveRecordName(name, &stamp) && stamp > newest_) newest_ = stamp;
    }
    for (auto &[name, recorded] : records.latest) known_[name] = recorded.entry;
}

Result ArchiveRecordWriter::add(const std::string &name, const StoredDigest *digest,
                                const std::string &logId) {
    if (!started_) start();
    StoredDigest asked;
    if (digest == nullptr) {
        Result result = storage_.digest(name, &asked);
        if (!result.isOk()) return result;
        digest = &asked;
    }
    RecordEntry entry;
    entry.name = name;
    entry.sha256 = digest->sha256;
    entry.size = digest->size;
    entry.logId = logId;

    // Already said: a capture of the very bytes an earlier line holds keeps
    // that line and its log ID.
    const auto known = known_.find(name);
    if (known != known_.end() && known->second.sha256 == entry.sha256 &&
        known->second.size == entry.size &&
        (entry.logId.empty() || entry.logId == known->second.logId))
        return Result::ok();
    known_[name] = entry;
    const auto same = std::find_if(run_.begin(), run_.end(),
                                   [&](const RecordEntry &line) { return line.name == name; });
    if (same != run_.end())
        *same = entry;
    else
        run_.push_back(entry);
    pending_ = true;
    return Result::ok();
}

Result ArchiveRecordWriter::write() {
    if (!pending_) return Result::ok();
    const std::string text = formatRecord(run_);
    Result written;
    if (name_.empty()) {
        // Later than every record there, even when the clock went back or
        // two runs fall in one second: the names keep the order of the runs.
        time_t stamp = std::max(time(nullptr), newest_ + 1);
        for (int attempt = 0; attempt < 16; ++attempt, ++stamp) {
            name_ = archiveRecordName(stamp);
            written = storage_.writeText(name_, text, Placing::kNoReplace);
            if (written.error() != EEXIST) break;
        }
        if (!written.isOk()) name_.clear();
    } else {
        written = storage_.writeText(name_, text, Placing::kReplace);
    }
    if (written.isOk()) pending_ = false;
    return written;
}

std::string ArchiveRecordWriter::recordPath() const {
    if (name_.empty()) return storage_.pathOf(archiveRecordName(std::max(time(nullptr), newest_ + 1)));
    return storage_.pathOf(name_);
}

}  // namespace nsfmend
