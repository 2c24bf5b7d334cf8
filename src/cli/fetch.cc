// nsfmend OPT=FETCH IN=<archive> [DATETIME=]: puts into the server's log
// directory (TRANSLOG_Path) every extent a recovery to the cut-off needs,
// from an archive folder or an object store, each under its bare name and
// from a copy its archive record vouches for; OPT=CHECK with the same
// arguments shows that plan. The fetch is built like every run that changes
// the server's files: the plan first (what is fetched, from where, what is
// there already, whether the server runs), then, only when it holds, the
// files, each checked against its record before it is placed through the
// durable writes, never over a file that is there. A record of what was
// placed goes beside them, so OPT=CHECK of the media recovery then checks
// each extent against it.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/fetch.h"
#include "cli/findings.h"
#include "storage/folder_storage.h"
#include "storage/storage.h"
#include "support/durable.h"
#include "support/path.h"
#include "support/run_lock.h"
#include "support/sha256.h"
#include "support/sysfile.h"
#include "translog/log_chain.h"
#include "translog/record_format.h"
#include "translog/record_writer.h"

namespace nsfmend {
namespace {

class TempSink : public ByteSink {
public:
    explicit TempSink(TempFile *file) : file_(file) {}
    int write(const void *data, size_t size) override {
        hash_.update(data, size);
        return file_->write(data, size);
    }
    int restart() override {
        hash_ = Sha256();
        if (ftruncate(file_->fd(), 0) != 0 || lseek(file_->fd(), 0, SEEK_SET) != 0) return lastError();
        return 0;
    }
    const Sha256 &hash() const { return hash_; }

private:
    TempFile *file_;
    Sha256 hash_;
};

// One copy fetched into place: ok, or why this copy cannot serve.
Result fetchCopy(const FetchPlan &plan, const FetchItem &item, const FetchCopy &copy) {
    TempFile temp;
    int rc = temp.create(item.target.c_str());
    if (rc != 0) return Result::system(rc);
    TempSink sink(&temp);
    Result read = plan.archive->read(copy.name, &sink);
    if (!read.isOk()) return read;
    const Sha256 &got = sink.hash();
    if (got.length() != copy.size || got.hexDigest() != copy.sha256)
        return Result::failure(plan.archive->pathOf(copy.name) + " does not match archive record " +
                               copy.record + " (" +
                               (got.length() == copy.size
                                    ? std::string("same size, another SHA-256")
                                    : "size " + std::to_string(got.length()) + ", recorded " +
                                          std::to_string(copy.size)) +
                               ")");
    // The server's file: the log directory's owner, read and written by it
    // alone.
    struct stat like = plan.logDirStat;
    like.st_mode = S_IFREG | 0600;
    rc = temp.giveAttributes(like, false, Owner::kExact);
    if (rc == 0) rc = temp.place(Placing::kNoReplace);
    return Result::system(rc);
}

// Fetches one extent from the first copy that holds what its record says.
Result fetchExtent(const FetchPlan &plan, const FetchItem &item, FetchCopy *used) {
    const std::string name = extentName(item.extent.number);
    Result last;
    for (const FetchCopy &copy : item.extent.copies) {
        last = fetchCopy(plan, item, copy);
        if (last.isOk()) {
            *used = copy;
            printf(" Fetched %s from %s (%llu bytes)\n", name.c_str(),
                   plan.archive->pathOf(copy.name).c_str(), (unsigned long long)copy.size);
            return last;
        }
        printf(" Copy %s of %s cannot serve, Reason=%s\n", plan.archive->pathOf(copy.name).c_str(),
               name.c_str(), last.explanation().c_str());
    }
    printf(" Fail to fetch %s, Reason=no copy holds what its record says\n", name.c_str());
    return last;
}

int carryOut(const FetchPlan &plan) {
    FolderStorage logs(joinPath(plan.logDir, ""), plan.logDir);
    // Temporary files of a fetch stopped here before: only ever ours.
    logs.removeLeftovers();
    ArchiveRecordWriter record(logs);
    size_t fetched = 0, there = 0;
    uint64_t bytes = 0;
    bool failed = false;
    for (const FetchItem &item : plan.items) {
        FetchCopy line = item.line;
        if (item.action == Action::kFetch) {
            if (!fetchExtent(plan, item, &line).isOk()) {
                failed = true;
                break;
            }
            ++fetched;
            bytes += line.size;
        } else {
            ++there;
        }
        // As the archive recorded it, under the name the server reads.
        const StoredDigest digest{line.size, line.sha256};
        const Result added = record.add(extentName(item.extent.number), &digest, line.logId);
        if (!added.isOk()) failed = true;
    }
    // What was placed before a failure is right, and recorded too.
    const Result written = record.write();
    if (!written.isOk()) {
        printf(" Fail to write archive record %s, Reason=%s\n", record.recordPath().c_str(),
               written.explanation().c_str());
        failed = true;
    }
    printf("Fetched %zu extents (%llu bytes) into %s; %zu there already\n", fetched,
           (unsigned long long)bytes, plan.logDir.c_str(), there);
    return failed ? 1 : 0;
}

}  // namespace

bool fetchesArchive(const RunSettings &s) {
    if (s.inputFile[0] == '\0' || s.restoreDb[0] != '\0') return false;
    if (isStoreLocation(s.inputFile)) return true;
    // A folder is an archive when it holds an archive record; any other IN=
    // is the backup file of a recovery, whose check says what is wrong.
    std::unique_ptr<Storage> folder;
    std::vector<StoredEntry> entries;
    struct stat st;
    if (stat(s.inputFile, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (!openStorage(s.inputFile, &folder).isOk() || !folder->list(&entries).isOk()) return false;
    for (const StoredEntry &entry : entries)
        if (parseArchiveRecordName(entry.name, nullptr)) return true;
    return false;
}

int runFetchMode(const RunSettings &s) {
    RunLock lock;
    const Result taken = lock.take(s.dataDir);
    if (!taken.isOk()) {
        printf("%s\n", taken.explanation().c_str());
        return 1;
    }
    const FetchPlan plan = buildFetchPlan(s, false);
    if (!plan.holds()) {
        printStopLines(plan.findings);
        return 1;
    }
    printf("Fetching from %s into %s ...\n", s.inputFile, plan.logDir.c_str());
    return carryOut(plan);
}

int runFetchCheck(const RunSettings &s) {
    printf("Preflight of a fetch (nothing is changed):\n");
    const FetchPlan plan = buildFetchPlan(s, true);
    printFindings(plan.findings);
    printf("Verdict: the fetch would %s\n", plan.holds() ? "proceed" : "fail");
    return plan.holds() ? 0 : 1;
}

int reportFetchCheckWithoutStart(const RunSettings &s) {
    printf("Preflight of a fetch (nothing is changed):\n");
    printf("note runtime: not started: %s sets TRANSLOG_Recreate_Logctrl=1 and the log control "
           "file is missing, so starting the runtime would rebuild it; the log directory is the "
           "runtime's to name, and is not checked\n",
           s.iniPath);
    printf("Verdict: the fetch cannot be checked without a change (exit status 2)\n");
    return 2;
}

int reportFetchCheckWithoutRuntime(const RunSettings &s) {
    printf("Preflight of a fetch (nothing is changed):\n");
    Findings findings;
    findings.add(Mark::kFail, "runtime", std::string("did not start with ") + s.iniPath);
    printFindings(findings);
    printf("Verdict: the fetch would fail\n");
    return 1;
}

}  // namespace nsfmend
