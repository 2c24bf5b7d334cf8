// nsfmend OPT=VERIFY: whether an archive folder holds what a recovery needs,
// for an administrator without a backup agent. It makes the agent's check
// (the same code: the chain, the archive records, the log directory's
// extents) and collects every finding, where the agent's message gives only
// the first; the findings are then said, one line each, and the verdict. It only reads: no runtime, no lock, no
// prompt, nothing written.
#include <stdio.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/findings.h"
#include "cli/lines.h"
#include "cli/report.h"
#include "cli/verify_counts.h"
#include "storage/storage.h"
#include "support/path.h"
#include "support/text.h"
#include "translog/archive_check.h"

namespace nsfmend {
namespace {

// The findings, and the verdict that follows from them.
class Lines {
public:
    void line(Mark mark, const char *subject, const std::string &detail) {
        findings_.add(mark, subject, detail);
    }
    const Findings &findings() const { return findings_; }

private:
    Findings findings_;
};

std::string counted(size_t count, const char *one, const char *many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void reportRecords(Lines *out, const std::string &dir, const Storage &archive,
                   const ArchiveCheck &check) {
    const ArchiveRecords &records = check.records.records;
    if (records.records.empty()) {
        out->line(Mark::kNote, "archive records",
                  "none in " + dir + "; every file is checked by name only");
        return;
    }
    out->line(records.faults.size() < records.records.size() ? Mark::kOk : Mark::kFail,
              "archive records",
              counted(records.records.size(), "record", "records") + " in " + dir + ", " +
                  counted(records.latest.size(), "file", "files") + " listed, latest " +
                  records.records.back());
    for (const RecordFault &fault : records.faults) {
        const std::string path = archive.pathOf(fault.record);
        if (fault.error != 0)
            out->line(Mark::kFail, "archive record",
                      unreadable(path + " cannot be read", fault.error, fault.reason));
        else
            out->line(Mark::kFail, "archive record",
                      path + " is damaged at line " + std::to_string(fault.line));
    }
}

void reportChain(Lines *out, const std::string &dir, const Storage &archive,
                 const ArchiveCheck &check) {
    const ExtentChain &chain = check.chain;
    if (chain.numbers.empty() && check.missing.empty()) {
        out->line(Mark::kFail, "extents", "none in " + dir);
    } else {
        // From the first extent there or recorded to the last of either.
        std::vector<DWORD> ends;
        if (!chain.numbers.empty()) ends = {chain.numbers.front(), chain.numbers.back()};
        if (!check.missing.empty()) {
            ends.push_back(check.missing.front().first);
            ends.push_back(check.missing.back().last);
        }
        const DWORD first = *std::min_element(ends.begin(), ends.end());
        const DWORD last = *std::max_element(ends.begin(), ends.end());
        std::string detail = extentName(first);
        if (last != first) detail += " to " + extentName(last);
        detail += ", " + counted(chain.numbers.size(), "extent", "extents") + " there";
        if (check.missing.empty())
            out->line(Mark::kOk, "extents", detail + ", none missing");
        else
            out->line(Mark::kFail, "extents",
                      detail + ", missing " + describeExtentRanges(check.missing, kNamesPerLine));
    }
    for (const BadExtentFile &bad : chain.bad) {
        const auto reason = check.reasons.find(bad.name);
        out->line(Mark::kFail, "extent",
                  bad.notRegular ? archive.pathOf(bad.name) + " is not a regular file"
                                 : unreadable(archive.pathOf(bad.name) + " cannot be read", bad.error,
                                              reason != check.reasons.end() ? reason->second : ""));
    }
    for (const DisagreeingCopies &copies : chain.disagreeing)
        out->line(Mark::kFail, "copies",
                  "of extent " + extentName(copies.number) + " disagree: " + copies.longest +
                      " and " + copies.other);
    // The records have their own line above.
    std::vector<std::string> others;
    for (const std::string &name : chain.others)
        if (!parseArchiveRecordName(name, nullptr)) others.push_back(name);
    if (!others.empty())
        out->line(Mark::kNote, "archive folder",
                  counted(others.size(), "other entry", "other entries") +
                      ", not archived extents: " + namesText(others));
}

void reportFiles(Lines *out, const Storage &archive, const ArchiveCheck &check) {
    const RecordCheck &records = check.records;
    std::vector<std::string> byNameOnly;
    for (const RecordFinding &f : records.findings) {
        const std::string path = archive.pathOf(f.name);
        switch (f.match) {
            case RecordMatch::kMatches: break;
            case RecordMatch::kGrown:
                out->line(Mark::kNote, "archived file",
                          path + " has grown from what archive record " + f.record +
                              " lists (size " + std::to_string(f.size) + ", recorded " +
                              std::to_string(f.recordedSize) + "): a run that completed it stopped before its record");
                break;
            case RecordMatch::kDiffers:
                out->line(Mark::kFail, "archived file",
                          path + " does not match archive record " + f.record + " (" +
                              describeMismatch(f) + ")");
                break;
            case RecordMatch::kUnreadable:
                out->line(Mark::kFail, "archived file",
                          unreadable(path + " cannot be read", f.error, f.reason));
                break;
            case RecordMatch::kMissing:
                out->line(Mark::kFail, "archived file",
                          path + " listed in archive record " + f.record + " is missing");
                break;
            case RecordMatch::kUnrecorded: byNameOnly.push_back(f.name); break;
        }
    }
    if (!check.recorded) return;
    const size_t matching = countMatches(records, RecordMatch::kMatches);
    if (matching > 0)
        out->line(Mark::kOk, "archived files",
                  counted(matching, "file", "files") + " as recorded (size and SHA-256)");
    if (!byNameOnly.empty())
        out->line(Mark::kNote, "archived files",
                  counted(byNameOnly.size(), "extent", "extents") +
                      " checked by name only, as no record lists them: " + namesText(byNameOnly));
    if (records.logs.size() == 1)
        out->line(Mark::kOk, "log", "every recorded extent is of log " + records.logs[0].logId);
    else if (records.logs.size() > 1)
        out->line(Mark::kFail, "log",
                  "the records name extents of " + std::to_string(records.logs.size()) +
                      " logs: " + describeLogs(records.logs));
}

void reportServer(Lines *out, const char *logDir, const ArchiveCheck &check) {
    if (check.serverError != 0) {
        out->line(Mark::kFail, "log directory",
                  withFileReason(std::string(logDir) + " cannot be listed", check.serverError));
    } else if (check.lacking.empty()) {
        out->line(Mark::kOk, "log directory",
                  std::string(logDir) + " holds no extent the archive lacks");
    } else {
        out->line(Mark::kFail, "log directory",
                  std::string(logDir) + " holds extents the archive lacks: " +
                      describeExtentRanges(check.lacking, kNamesPerLine));
    }
}

// The facts of the archive's files as its listing gave them, a folder's as a
// store's: no file is asked again.
ArchivedFileLookup listedFileFacts(const std::vector<StoredEntry> &entries) {
    return [&entries](const std::string &name, ArchivedFileFacts *facts) {
        const auto found = std::lower_bound(
            entries.begin(), entries.end(), name,
            [](const StoredEntry &entry, const std::string &wanted) { return entry.name < wanted; });
        if (found == entries.end() || found->name != name || found->kind != StoredKind::kRegular)
            return false;
        facts->size = found->size;
        facts->modified = found->modified;
        return true;
    };
}

int verdict(const Lines &out, const RunSettings &s, std::optional<ArchiveCounts> counts = std::nullopt) {
    Report report;
    report.command = "VERIFY";
    report.findings = out.findings();
    const bool serves = report.findings.holds();
    report.verdict = serves ? "the archive would serve a recovery" : "the archive would not serve a recovery";
    report.exitStatus = serves ? 0 : 1;
    report.counts = counts;
    return deliverReport(std::move(report), s);
}

}  // namespace

int runArchiveVerify(const RunSettings &s) {
    Lines out;
    printf("Verification of an archive folder (nothing is changed):\n");
    if (s.inputFile[0] == '\0') {
        out.line(Mark::kFail, "archive folder", "none given: IN= names it");
        return verdict(out, s);
    }
    const std::string dir = s.inputFile;
    const bool withServer = s.restoreDb[0] != '\0';
    std::unique_ptr<Storage> archive;
    const Result opened = openStorage(dir, &archive);
    if (!opened.isOk()) {
        out.line(Mark::kFail, "archive folder", dir + ": " + opened.explanation());
        return verdict(out, s);
    }
    // The one place the check becomes findings.
    ArchiveCheck check;
    const Result listed = checkArchive(*archive, s.restoreDb, &check);
    if (!listed.isOk()) {
        out.line(Mark::kFail, "archive folder",
                 unreadable(dir + " cannot be listed", listed.error(), listed.text()));
        return verdict(out, s);
    }
    out.line(Mark::kOk, "archive folder", dir);
    reportRecords(&out, dir, *archive, check);
    reportChain(&out, dir, *archive, check);
    reportFiles(&out, *archive, check);
    if (withServer) reportServer(&out, s.restoreDb, check);
    return verdict(out, s, countArchive(check, listedFileFacts(check.entries)));
}

}  // namespace nsfmend
