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
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/findings.h"
#include "cli/lines.h"
#include "recovery/recover_db.h"
#include "storage/folder_storage.h"
#include "storage/storage.h"
#include "support/durable.h"
#include "support/open_files.h"
#include "support/path.h"
#include "support/run_lock.h"
#include "support/sha256.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/archive_check.h"
#include "translog/fetch_plan.h"
#include "translog/log_directory.h"
#include "translog/record_format.h"
#include "translog/record_writer.h"

namespace nsfmend {
namespace {

// What becomes of one extent.
enum class Action {
    kFetch,  // not in the log directory: fetched
    kThere,  // there already with a recorded copy's bytes: left as it is
    kKept,   // there, longer than the archive's copy and starting with it: kept
};

struct FetchItem {
    FetchExtent extent;
    std::string target;  // its path in the log directory
    Action action = Action::kFetch;
    FetchCopy line;      // for kThere and kKept: the line it matches
};

struct FetchPlan {
    Findings findings;
    std::unique_ptr<Storage> archive;
    std::string logDir;
    struct stat logDirStat = {};
    std::vector<FetchItem> items;
    uint64_t bytes = 0;  // to be fetched

    bool holds() const { return findings.holds(); }
};

// Why something could not be read: a store's own words, "Not a regular
// file", or the system's text.
std::string readReason(int error, const std::string &reason) {
    if (!reason.empty()) return reason;
    return error == EINVAL ? "Not a regular file" : systemText(error);
}

std::string extentList(const FetchSelection &selection) {
    std::string text = extentName(selection.first);
    if (selection.last != selection.first) text += " to " + extentName(selection.last);
    return text;
}

// How a file already in the log directory stands to the extent's recorded
// copies: their bytes, or more bytes starting with the longest one's, or
// neither. The file is read once.
Action judgeThere(const std::string &path, const FetchExtent &extent, FetchCopy *line, int *error) {
    std::vector<uint64_t> marks;
    for (const FetchCopy &copy : extent.copies) marks.push_back(copy.size);
    FolderStorage folder(parentOf(path) + "/", parentOf(path));
    const ReadDigest read = readDigest(folder, baseName(path), marks);
    *error = read.result.isOk() ? 0 : (read.result.error() != 0 ? read.result.error() : -1);
    if (*error != 0) return Action::kFetch;
    for (const FetchCopy &copy : extent.copies) {
        if (read.digest.size == copy.size && read.digest.whole == copy.sha256) {
            *line = copy;
            return Action::kThere;
        }
    }
    const FetchCopy &longest = extent.copies.front();
    if (read.digest.size > longest.size && read.at(longest.size) == longest.sha256) {
        *line = longest;
        return Action::kKept;
    }
    return Action::kFetch;
}

class FetchPlanner {
public:
    FetchPlanner(const RunSettings &s, bool checking, FetchPlan *plan)
        : s_(s), checking_(checking), plan_(plan) {}

    void build() {
        const bool archiveRead = archive();
        const bool logDirFound = logDirectory();
        if (logDirFound) server();
        time_t cutOff = -1;
        const bool cutOffRead = cutOffTime(&cutOff);
        if (archiveRead && cutOffRead) select(cutOff, logDirFound);
        if (logDirFound) room();
        runLock();
    }

private:
    void add(Mark mark, const char *subject, const std::string &detail, const std::string &runLine = "") {
        plan_->findings.add(mark, subject, detail, runLine);
    }

    bool archive() {
        const std::string location = s_.inputFile;
        Result result = openStorage(location, &plan_->archive);
        if (result.isOk()) result = plan_->archive->list(&entries_);
        if (!result.isOk()) {
            add(Mark::kFail, "archive",
                location + " cannot be listed, Reason=" + readReason(result.error(), result.text()));
            return false;
        }
        readArchiveRecords(*plan_->archive, entries_, &records_);
        for (const RecordFault &fault : records_.faults) {
            const std::string path = plan_->archive->pathOf(fault.record);
            add(Mark::kFail, "archive record",
                fault.error != 0
                    ? path + " cannot be read, Reason=" + readReason(fault.error, fault.reason)
                    : path + " is damaged at line " + std::to_string(fault.line) +
                          ": what it lists cannot be checked");
        }
        if (records_.records.empty()) {
            add(Mark::kFail, "archive",
                location + " holds no archive record: nothing there can be checked before it is "
                           "fetched (copy it by hand, or archive with nsfmend's agent)");
            return false;
        }
        add(Mark::kOk, "archive",
            location + ": " + std::to_string(records_.records.size()) + " records, " +
                std::to_string(records_.latest.size()) + " files listed, latest " + records_.records.back());
        return records_.faults.empty();
    }

    bool logDirectory() {
        const int resolved = resolveLogDirectory(s_.dataDir, &plan_->logDir);
        if (resolved == ENOENT) {
            add(Mark::kFail, "log directory", kNoLogDirectoryText, kNoLogDirectoryText);
            return false;
        }
        if (resolved != 0) {
            add(Mark::kFail, "log directory", tooLongText("Log directory", kLogDirectoryMax, plan_->logDir));
            return false;
        }
        const std::string &dir = plan_->logDir;
        int error = stat(dir.c_str(), &plan_->logDirStat) != 0 ? lastError() : 0;
        if (error == 0 && !S_ISDIR(plan_->logDirStat.st_mode)) error = ENOTDIR;
        if (error == ENOENT) {
            add(Mark::kFail, "log directory",
                dir + " is not there: make it (as the server's user, as TRANSLOG_Path names it), "
                      "then fetch");
            return false;
        }
        if (error == 0) error = accessAllowed(dir.c_str(), R_OK | W_OK | X_OK);
        if (error != 0) {
            add(Mark::kFail, "log directory", withReason(dir, error));
            return false;
        }
        add(Mark::kOk, "log directory", dir);
        // The fetched files go to the server's user: the log directory's.
        const struct stat &st = plan_->logDirStat;
        if (ownerCanBeGiven(st) != 0) {
            add(Mark::kFail, "owner",
                "the fetched extents must belong to the log directory's owner (user " +
                    std::to_string(st.st_uid) + ", group " + std::to_string(st.st_gid) +
                    "), which user " + std::to_string(geteuid()) + " cannot give them");
            return false;
        }
        return true;
    }

    // A running server holds its log directory's files open; it reads and
    // writes extents there, so nothing is put among them while it runs.
    void server() {
        std::vector<Holder> holders;
        const int error = processesHolding(plan_->logDir, &holders);
        if (error != 0) {
            add(Mark::kNote, "server", withReason("whether it runs cannot be told", error));
            return;
        }
        if (holders.empty()) {
            add(Mark::kOk, "server", "no process holds files in " + plan_->logDir);
            return;
        }
        std::string who;
        for (const Holder &h : holders)
            who += (who.empty() ? "" : ", ") + std::to_string(h.pid) + " (" + h.command + ")";
        const std::string line = "The server is running: process " + who + " holds files in " +
                                 plan_->logDir + "; stop it, then fetch";
        add(Mark::kFail, "server", line, line);
    }

    bool cutOffTime(time_t *cutOff) {
        const char *text = s_.cutOffTime;
        if (text[0] == '\0') return true;
        TIMEDATE parsed;
        TIME reading;
        const STATUS status = parseCutOffTime(text, &parsed, &reading);
        if (status != NOERROR) {
            char reason[kMessageSize] = {};
            get_api_error_message(status, reason);
            add(Mark::kFail, "cut-off time", std::string("\"") + text + "\" cannot be read, Reason=" + reason);
            return false;
        }
        struct tm utc = {};
        utc.tm_year = reading.year - 1900;
        utc.tm_mon = reading.month - 1;
        utc.tm_mday = reading.day;
        utc.tm_hour = reading.hour;
        utc.tm_min = reading.minute;
        utc.tm_sec = reading.second;
        *cutOff = timegm(&utc);
        return true;
    }

    void select(time_t cutOff, bool logDirFound) {
        const FetchSelection selection = selectExtents(entries_, records_, cutOff);
        if (!selection.any) {
            add(Mark::kFail, "extents", "no archive record of " + std::string(s_.inputFile) + " lists an extent");
            return;
        }
        const std::string range = extentList(selection);
        if (cutOff < 0) {
            add(Mark::kNote, "cut-off time", "none: every recorded extent, " + range);
        } else if (selection.boundingRecord.empty()) {
            add(Mark::kNote, "cut-off time",
                std::string("\"") + s_.cutOffTime + "\" is after the last archiving run (" +
                    records_.records.back() + "): every recorded extent, " + range +
                    "; what the server logged after that run was never archived");
        } else {
            add(Mark::kOk, "cut-off time",
                std::string("\"") + s_.cutOffTime + "\": " + range + ", as far as " +
                    selection.boundingRecord + " (the first archiving run after it) lists");
        }
        const size_t count = selection.last - selection.first + 1;
        if (selection.missing.empty())
            add(Mark::kOk, "extents", range + ", " + std::to_string(count) + " extents, none missing");
        else
            add(Mark::kFail, "extents",
                range + ", missing from every record: " + describeExtentRanges(selection.missing, kNamesPerLine));
        for (const FetchExtent &unfit : selection.unfit) {
            std::vector<std::string> paths;
            for (const std::string &name : unfit.unfit) paths.push_back(plan_->archive->pathOf(name));
            add(Mark::kFail, "fetch",
                extentName(unfit.number) + ": no copy is there as its record lists it (" +
                    namesText(paths) + ": missing, or of another size)");
        }
        if (selection.logs.size() > 1)
            add(Mark::kFail, "log",
                "the extents to fetch are of " + std::to_string(selection.logs.size()) +
                    " logs: " + describeLogs(selection.logs));
        for (const FetchExtent &extent : selection.extents) item(extent, logDirFound);
        if (logDirFound)
            add(Mark::kNote, "record",
                "what is fetched is recorded in the log directory (nsfmend-archive-*.sha256), for "
                "OPT=CHECK to check each extent against");
    }

    void item(const FetchExtent &extent, bool logDirFound) {
        FetchItem item;
        item.extent = extent;
        const std::string name = extentName(extent.number);
        const FetchCopy &first = extent.copies.front();
        const std::string from = plan_->archive->pathOf(first.name);
        std::string also;
        for (size_t i = 1; i < extent.copies.size(); ++i)
            also += (also.empty() ? ", else " : ", ") + extent.copies[i].name;
        if (logDirFound) {
            item.target = joinPath(plan_->logDir, name);
            struct stat st;
            if (lstat(item.target.c_str(), &st) == 0) {
                int error = 0;
                item.action = S_ISREG(st.st_mode) ? judgeThere(item.target, extent, &item.line, &error)
                                                  : Action::kFetch;
                if (!S_ISREG(st.st_mode)) error = EINVAL;
                if (error != 0) {
                    add(Mark::kFail, "fetch",
                        name + ": " + withFileReason(item.target + " is there and cannot be read", error));
                    return;
                }
                if (item.action == Action::kThere) {
                    add(Mark::kNote, "fetch", name + ": " + item.target + " is there already, as recorded");
                } else if (item.action == Action::kKept) {
                    add(Mark::kNote, "fetch",
                        name + ": " + item.target + " is there already and longer than its archived "
                               "copy, which it starts with (the server wrote on after the archiving): kept");
                } else {
                    const std::string line = " Fail to fetch " + name + ", Reason=" + item.target +
                                             " is there with other content; it is never replaced";
                    add(Mark::kFail, "fetch",
                        name + ": " + item.target + " is there with other content; it is never "
                               "replaced (move it away to fetch the archived copy)",
                        line);
                    return;
                }
                plan_->items.push_back(item);
                return;
            }
        }
        plan_->bytes += first.size;
        add(Mark::kOk, "fetch",
            name + " from " + from + also + " (" + std::to_string(first.size) +
                " bytes; its SHA-256 checked as it comes)");
        plan_->items.push_back(item);
    }

    void room() {
        struct statvfs fs;
        if (statvfs(plan_->logDir.c_str(), &fs) != 0) return;
        const unsigned long long available = (unsigned long long)fs.f_bavail * fs.f_frsize;
        // Each file takes whole blocks.
        const unsigned long long block = fs.f_frsize != 0 ? fs.f_frsize : 4096;
        const unsigned long long needed =
            (plan_->bytes + block * (plan_->items.size() + 1)) / block * block;
        const std::string detail = sizeText((double)available, "bytes") + " free in " + plan_->logDir +
                                   ", the fetch needs " + sizeText((double)needed, "bytes");
        add(available < needed ? Mark::kFail : Mark::kOk, "free space", detail);
    }

    void runLock() {
        if (!checking_) return;  // the run holds it already
        const int error = probeRunLock(s_.dataDir);
        if (error == 0) {
            add(Mark::kOk, "run lock", std::string("no other run holds ") + s_.dataDir);
            return;
        }
        const std::string why = describeRunLockFailure(error, s_.dataDir);
        add(Mark::kFail, "run lock", why, why);
    }

    const RunSettings &s_;
    bool checking_;  // OPT=CHECK: the run lock is only looked at
    FetchPlan *plan_;
    std::vector<StoredEntry> entries_;
    ArchiveRecords records_;
};

FetchPlan buildFetchPlan(const RunSettings &s, bool checking) {
    FetchPlan plan;
    FetchPlanner(s, checking, &plan).build();
    return plan;
}

// The bytes of one copy into the temporary file that becomes the extent,
// hashed as they come.
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
