// The writer an archiving run (or a fetch) keeps its archive record with.
#ifndef NSFMEND_TRANSLOG_RECORD_WRITER_H
#define NSFMEND_TRANSLOG_RECORD_WRITER_H

#include <time.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "storage/storage.h"
#include "support/result.h"
#include "translog/record_format.h"

namespace nsfmend {

// Collects what one run put into one place and keeps that run's record up
// to date there, through the storage's writes (a folder's are durable: a
// record is always wholly old or wholly new). A file goes in when the
// records do not already say what it now holds, so a run that changed
// nothing writes no record.
class ArchiveRecordWriter {
public:
    explicit ArchiveRecordWriter(Storage &storage) : storage_(storage) {}

    // Records name with what it holds: digest, or (null) as the storage
    // says it holds now; logId as logIdText writes it, or empty. ok, or
    // the failure of asking the storage.
    Result add(const std::string &name, const StoredDigest *digest, const std::string &logId);
    // Writes the run's record with every file added so far, when anything
    // was added since the last write. ok, or the failure of the write.
    Result write();
    // The record's path, as messages name it: where it is or will be written.
    std::string recordPath() const;

private:
    void start();

    Storage &storage_;
    bool started_ = false;
    time_t newest_ = 0;                             // of the records there at the start
    std::map<std::string, RecordEntry> known_;      // what the records say, this run's too
    std::vector<RecordEntry> run_;                  // this run's lines
    std::string name_;                              // chosen at the first write
    bool pending_ = false;
};

}  // namespace nsfmend

#endif
