// The log's questions of a plan: where the log directory is, which extents
// it holds and which cannot serve, what archive records there say, the log
// control file, and which recovery surely fails on what it reads. A fault
// fails a recovery only where that recovery surely reads it: its own first
// extent always, the ones after it only without a cut-off (with one, how far
// it reads is the server's to decide).
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "cli/lines.h"
#include "cli/plan_parts.h"
#include "logctrl/logctrl.h"
#include "support/path.h"
#include "support/sysfile.h"
#include "translog/archive_check.h"
#include "translog/log_directory.h"

namespace nsfmend {
namespace {

std::string rangeText(ExtentRange range) {
    return describeExtentRanges({range}, kNamesPerLine);
}

void addFault(LogView *log, ExtentRange range, const char *finding, std::string detail,
              std::string reason) {
    log->faults.push_back(ExtentFault{range, finding, std::move(detail), std::move(reason)});
}

// Whether a recovery starting in `start` meets the extents of a fault: for
// sure, only if the cut-off lies past them, or never.
enum class Reach { kSure, kCutOffDecides, kNever };

Reach reach(ExtentRange extents, DWORD start, bool cutOff) {
    // A database the server names no extent for: where it starts is the
    // server's to know.
    if (start == 0) return Reach::kCutOffDecides;
    if (start > extents.last) return Reach::kNever;
    if (start >= extents.first) return Reach::kSure;  // where it starts reading
    return cutOff ? Reach::kCutOffDecides : Reach::kSure;
}

// The log a reader's first extent is of, by the archive records, when it
// is not the reader's own: "ID (archive record NAME)".
std::string otherLog(const LogView &log, const LogReader &reader) {
    const auto recorded = log.recordedLog.find(reader.start);
    if (recorded == log.recordedLog.end()) return "";
    if (recorded->second.first == logIdText(reader.logId)) return "";
    return recorded->second.first + " (archive record " + recorded->second.second + ")";
}

// Why a reader's own first extent is not there: the line of its own.
std::string startMissing(const LogView &log, const LogReader &reader) {
    const std::vector<DWORD> &numbers = log.chain.numbers;
    if (numbers.empty() || reader.start == 0 ||
        std::binary_search(numbers.begin(), numbers.end(), reader.start))
        return "";
    const std::string needs = "needs the log from " + extentName(reader.start) + " on; " + log.dir;
    if (reader.start < numbers.front())
        return needs + " begins at " + extentName(numbers.front()) + ", missing " +
               rangeText(ExtentRange{reader.start, numbers.front() - 1});
    if (reader.start > numbers.back())
        return needs + " ends at " + extentName(numbers.back()) + ", missing " +
               rangeText(ExtentRange{numbers.back() + 1, reader.start});
    return "";  // in a gap: the gap's line says it
}

}  // namespace

unsigned long long LogView::bytesFrom(DWORD first) const {
    unsigned long long total = 0;
    for (DWORD number : chain.numbers) {
        if (number < first) continue;
        struct stat st;
        if (stat(joinPath(dir, extentName(number)).c_str(), &st) == 0)
            total += (unsigned long long)st.st_size;
    }
    return total;
}

LogView askLogDirectory(const char *dataDir, Findings *findings) {
    LogView log;
    const int resolved = resolveLogDirectory(dataDir, &log.dir);
    if (resolved == ENOENT) {
        findings->add(Mark::kFail, "log directory", kNoLogDirectoryText, kNoLogDirectoryText);
        return log;
    }
    if (resolved != 0) {
        findings->add(Mark::kFail, "log directory", withReason(log.dir, resolved));
        return log;
    }
    const int listed = checkExtentChain(log.dir.c_str(), ExtentNames::kBare, &log.chain);
    if (listed != 0) {
        findings->add(Mark::kFail, "log directory",
                      withReason(log.dir + " cannot be listed", listed));
        return log;
    }
    log.known = true;
    findings->add(Mark::kOk, "log directory", log.dir);
    const ExtentChain &chain = log.chain;
    for (const ExtentRange &range : chain.missing)
        addFault(&log, range, "extents", "", rangeText(range) + " is missing");
    for (const BadExtentFile &bad : chain.bad) {
        DWORD number = 0;
        std::string_view suffix;
        if (!parseExtentName(bad.name, &number, &suffix)) continue;
        const std::string path = joinPath(log.dir, bad.name);
        if (bad.notRegular)
            addFault(&log, ExtentRange{number, number}, "extent", path + " is not a regular file",
                     bad.name + " is not a regular file");
        else
            addFault(&log, ExtentRange{number, number}, "extent",
                     withReason(path + " cannot be read", bad.error),
                     withReason(bad.name + " cannot be read", bad.error));
    }
    return log;
}

// The one place the plan asks the archive records. They are no part of
// what the server reads: a damaged record is a note, and only what they
// tell about the extents themselves (lost, damaged, of which log) counts.
void askArchiveRecords(LogView *log, Findings *findings) {
    if (!log->known) return;
    const std::string &logDir = log->dir;
    RecordCheck check;
    if (checkArchiveRecords(logDir.c_str(), ExtentNames::kBare, &check) != 0) return;
    const ArchiveRecords &records = check.records;
    if (records.records.empty()) return;
    findings->add(Mark::kOk, "archive records",
                  std::to_string(records.records.size()) + " in " + logDir + ", " +
                      std::to_string(countMatches(check, RecordMatch::kMatches)) +
                      " extents as recorded (size and SHA-256)");
    for (const RecordFault &fault : records.faults) {
        const std::string path = joinPath(logDir, fault.record);
        findings->add(Mark::kNote, "archive record",
                      (fault.error != 0
                           ? withReason(path + " cannot be read", fault.error)
                           : path + " is damaged at line " + std::to_string(fault.line)) +
                          "; the extents it lists are checked by name only");
    }
    std::vector<std::string> byNameOnly;
    for (const RecordFinding &f : check.findings) {
        DWORD number = 0;
        std::string_view suffix;
        const bool extent = parseExtentName(f.name, &number, &suffix) && suffix.empty();
        if (extent && !f.logId.empty()) log->recordedLog[number] = {f.logId, f.record};
        const std::string path = joinPath(logDir, f.name);
        const ExtentRange one{number, number};
        if (!extent) {
            if (f.match == RecordMatch::kUnrecorded) byNameOnly.push_back(f.name);
        } else if (f.match == RecordMatch::kDiffers) {
            addFault(log, one, "extent",
                     path + " does not match archive record " + f.record + " (" +
                         describeMismatch(f) + ")",
                     f.name + " does not match archive record " + f.record);
        } else if (f.match == RecordMatch::kUnreadable) {
            addFault(log, one, "extent", withReason(path + " cannot be read", f.error),
                     withReason(f.name + " cannot be read", f.error));
        } else if (f.match == RecordMatch::kMissing) {
            addFault(log, one, "extent",
                     f.name + " listed in archive record " + f.record + " is not in " + logDir,
                     f.name + " is missing");
        } else if (f.match == RecordMatch::kGrown) {
            // A capture completed after its record: the recorded bytes are
            // its start, so it holds at least what was archived.
            findings->add(Mark::kNote, "extent",
                          path + " has grown from what archive record " + f.record + " lists");
        } else if (f.match == RecordMatch::kUnrecorded) {
            byNameOnly.push_back(f.name);
        }
    }
    std::sort(log->faults.begin(), log->faults.end(),
              [](const ExtentFault &a, const ExtentFault &b) {
                  return a.extents.first < b.extents.first;
              });
    if (check.logs.size() > 1)
        findings->add(Mark::kNote, "archive records",
                      "extents of " + std::to_string(check.logs.size()) +
                          " logs: " + describeLogs(check.logs) +
                          "; a database recovers only from its own log's");
    if (!byNameOnly.empty())
        findings->add(Mark::kNote, "archive records",
                      "no line for " + namesText(byNameOnly) + ": checked by name only");
}

// A media recovery's reset deletes the log control file, so the runtime
// rebuilds it from the extents; a recovery or a restore has the server read
// it. Either way the program can tell whether the file can serve, never
// whether its content is sound.
void askLogControlFile(const LogView &log, RunKind kind, Findings *findings) {
    if (!log.known) return;
    const std::string path = logControlFilePath(log.dir);
    if (kind == RunKind::kMediaRecovery) {
        const Result deletable = checkRemoveLogControlFile(log.dir);
        struct stat st;
        if (!deletable.isOk())
            findings->add(Mark::kFail, "log control file", deletable.text(), deletable.text());
        else if (lstat(path.c_str(), &st) != 0)
            findings->add(Mark::kNote, "log control file", path + " is not there");
        else
            findings->add(Mark::kNote, "log control file", path + " is there; the reset deletes it");
        return;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        const int error = lastError();
        if (error != ENOENT)
            findings->add(Mark::kFail, "log control file",
                          withReason(logControlDeletionFailure(path), error));
        else
            findings->add(Mark::kNote, "log control file",
                          path + " is not there; the server rebuilds it from the extents");
        return;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        findings->add(Mark::kFail, "log control file", path + " is not a regular file");
        return;
    }
    const int error = accessAllowed(path.c_str(), R_OK);
    if (error != 0) {
        findings->add(Mark::kFail, "log control file",
                      withReason(path + " cannot be read", error));
        return;
    }
    findings->add(Mark::kNote, "log control file",
                  path + " is there; whether its content is sound is the server's to judge");
}

void judgeReaders(const LogView &log, const LogReading &reading, std::vector<LogReader> *readers) {
    if (!log.known) return;
    const std::vector<DWORD> &numbers = log.chain.numbers;
    // The log reaches at least as far as a change the server logged: a
    // recovery to the latest transaction reads that far. (An extent the
    // records name and the folder lacks is a fault of its own.)
    std::vector<ExtentFault> faults = log.faults;
    const DWORD last = numbers.empty() ? 0 : numbers.back();
    if (reading.newestChange > last && !numbers.empty())
        faults.push_back(ExtentFault{ExtentRange{last + 1, reading.newestChange}, "", "",
                                     rangeText(ExtentRange{last + 1, reading.newestChange}) +
                                         " is missing"});
    for (LogReader &reader : *readers) {
        if (numbers.empty()) {
            reader.failure = "No extent is in " + log.dir;
            continue;
        }
        const std::string missing = startMissing(log, reader);
        if (!missing.empty()) {
            reader.failure = "It " + missing;
            continue;
        }
        const std::string other = otherLog(log, reader);
        if (!other.empty()) {
            reader.failure = "It belongs to log " + logIdText(reader.logId) + "; " +
                             extentName(reader.start) + ", where its recovery starts, is of log " +
                             other;
            continue;
        }
        for (const ExtentFault &fault : faults) {
            if (reach(fault.extents, reader.start, reading.cutOff) != Reach::kSure) continue;
            reader.failure = "It reads the log from " + extentName(reader.start) + " on, and " +
                             fault.reason;
            break;
        }
    }
}

size_t sayExtents(const LogView &log, const LogReading &reading,
                  const std::vector<LogReader> &readers, Scope scope, Findings *findings,
                  size_t at) {
    if (!log.known) return 0;
    std::vector<Finding> lines;
    auto say = [&](Mark mark, const std::string &subject, std::string detail) {
        lines.push_back(Finding{mark, subject, std::move(detail), "",
                                mark == Mark::kFail ? scope : Scope::kRun});
    };
    // How the readers meet a fault: FAIL where one surely does; else a note
    // that says who decides.
    auto judged = [&](ExtentRange extents, std::string *detail) {
        bool sure = false, decides = false;
        for (const LogReader &reader : readers) {
            const Reach r = reach(extents, reader.start, reading.cutOff);
            sure = sure || r == Reach::kSure;
            decides = decides || r == Reach::kCutOffDecides;
        }
        if (sure) return Mark::kFail;
        const std::string them = extents.first == extents.last ? "it" : "them";
        if (decides && reading.cutOff)
            *detail += "; whether a recovery to the cut-off reads " + them +
                       " is the server's to decide (it stops at the database's first change "
                       "past the cut-off)";
        else if (decides)
            *detail += "; whether a recovery reads " + them + " is the server's to decide";
        else
            *detail += "; no recovery of this run reads " + them;
        return Mark::kNote;
    };

    const ExtentChain &chain = log.chain;
    if (chain.numbers.empty()) {
        // Every recovery starts in an extent, and none is there.
        say(readers.empty() ? Mark::kNote : Mark::kFail, "extents", "none in " + log.dir);
    } else {
        const size_t count = chain.numbers.size();
        std::string detail = extentName(chain.numbers.front());
        if (count > 1) detail += " to " + extentName(chain.numbers.back());
        detail += ", " + std::to_string(count) + (count == 1 ? " extent" : " extents");
        if (chain.missing.empty()) {
            say(Mark::kOk, "extents", detail + ", none missing");
        } else {
            detail += ", missing " + describeExtentRanges(chain.missing, kNamesPerLine);
            Mark worst = Mark::kNote;
            std::string why;
            for (const ExtentRange &range : chain.missing) {
                std::string part;
                if (judged(range, &part) == Mark::kFail) worst = Mark::kFail;
                else if (why.empty()) why = part;
            }
            say(worst, "extents", worst == Mark::kFail ? detail : detail + why);
        }
    }
    for (const ExtentFault &fault : log.faults) {
        if (fault.finding == "extents") continue;  // the gaps: said above
        std::string detail = fault.detail;
        const Mark mark = judged(fault.extents, &detail);
        say(mark, fault.finding, detail);
    }
    if (!chain.others.empty())
        say(Mark::kNote, "log directory",
            std::to_string(chain.others.size()) +
                " other entries, not extents the server reads: " + namesText(chain.others));
    // A change logged after the last extent there.
    const DWORD last = chain.numbers.empty() ? 0 : chain.numbers.back();
    if (reading.newestChange > last && last != 0) {
        const ExtentRange lost{last + 1, reading.newestChange};
        std::string detail = reading.newestWho + " changed in " + extentName(reading.newestChange) +
                             "; " + log.dir + " ends at " + extentName(last) + ", missing " +
                             rangeText(lost);
        const Mark mark = judged(lost, &detail);
        say(mark, "extents", detail);
    }
    // A reader's own start, which no fault's line names.
    if (scope == Scope::kRun) {
        for (const LogReader &reader : readers) {
            if (reader.path.empty()) continue;  // no database known
            const std::string missing = startMissing(log, reader);
            if (!missing.empty()) say(Mark::kFail, "extents", reader.path + " " + missing);
            const std::string other = otherLog(log, reader);
            if (missing.empty() && !other.empty())
                say(Mark::kFail, "log identity",
                    reader.path + " belongs to log " + logIdText(reader.logId) + "; " +
                        extentName(reader.start) + ", where its recovery starts, is of log " +
                        other);
        }
    }
    for (size_t i = 0; i < lines.size(); ++i) findings->insert(at + i, lines[i]);
    return lines.size();
}

}  // namespace nsfmend
