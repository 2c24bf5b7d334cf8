// The plan of OPT=FETCH: each step a finding, the run's own line where it
// stops on one. It only reads: the archive's listing and records, the log
// directory, the processes holding its files, the run lock's table.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/fetch.h"
#include "cli/lines.h"
#include "recovery/recover_db.h"
#include "storage/folder_storage.h"
#include "support/durable.h"
#include "support/open_files.h"
#include "support/path.h"
#include "support/run_lock.h"
#include "support/sysfile.h"
#include "support/text.h"
#include "translog/archive_check.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

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
                unreadable(location + " cannot be listed", result.error(), result.text()));
            return false;
        }
        readArchiveRecords(*plan_->archive, entries_, &records_);
        for (const RecordFault &fault : records_.faults) {
            const std::string path = plan_->archive->pathOf(fault.record);
            add(Mark::kFail, "archive record",
                fault.error != 0
                    ? unreadable(path + " cannot be read", fault.error, fault.reason)
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
        size_t unseen = 0;
        const int error = processesHolding(plan_->logDir, &holders, &unseen);
        if (error != 0) {
            add(Mark::kNote, "server", withReason("whether it runs cannot be told", error));
            return;
        }
        if (holders.empty() && unseen > 0) {
            // Another user's server would be among those: this user cannot
            // tell, and says so rather than an ok.
            add(Mark::kNote, "server",
                "no process this user may look at holds files in " + plan_->logDir + "; " +
                    std::to_string(unseen) +
                    " processes of other users cannot be looked at, so whether the server runs "
                    "is for the administrator to know (run as root to have it checked)");
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
        CutOff read;
        TIME reading;
        const STATUS status = readCutOff(text, &read, &reading);
        if (status != NOERROR) {
            add(Mark::kFail, "cut-off time",
                std::string("\"") + text + "\" cannot be read, Reason=" + Result::api(status).reason());
            return false;
        }
        if (!read.given) return true;
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

}  // namespace

FetchPlan buildFetchPlan(const RunSettings &s, bool checking) {
    FetchPlan plan;
    FetchPlanner(s, checking, &plan).build();
    return plan;
}

// The bytes of one copy into the temporary file that becomes the extent,
// hashed as they come.

}  // namespace nsfmend
