// verifyNsfArchiveLogs: whether an archive folder holds what a recovery
// needs: an unbroken run of extent numbers, copies of one extent that agree,
// files that are still what the archive records say was archived, and (when
// asked) every extent the server's log directory holds. It only reads, so it
// takes no run lock and needs nothing of the runtime.
#include <errno.h>

#include <memory>
#include <string>

#include "agent/status_ops.h"
#include "agent/texts.h"
#include "support/path.h"
#include "support/text.h"
#include "storage/storage.h"
#include "translog/archive_check.h"

namespace nsfmend {
namespace {

// How many missing extents one message names before it counts the rest.
constexpr size_t kRangesPerMessage = 20;

Result listFailure(const char *dir, const Result &failure) {
    return Result::system(failure.error() != 0 ? failure.error() : -1,
                          formatText(NSFMEND_LISTING_FAILED, dir, failure.explanation().c_str()));
}

// Why a file could not be read: "Not a regular file", a store's own words,
// or the system's text.
std::string unreadable(bool notRegular, int error, const std::string &reason) {
    if (notRegular) return "Not a regular file";
    return reason.empty() ? systemText(error) : reason;
}

// The first extent that cannot be read or is missing; ok when there is
// none.
Result chainFault(const char *backupDir, const Storage &archive, const ArchiveCheck &check) {
    const ExtentChain &chain = check.chain;
    if (chain.numbers.empty() && check.missing.empty()) {
        return Result::failure(formatText(NSFMEND_TEXT_NO_ARCHIVED_EXTENTS, backupDir));
    }
    if (!chain.bad.empty()) {
        const BadExtentFile &bad = chain.bad.front();
        const auto reason = check.reasons.find(bad.name);
        return Result::failure(formatText(
            NSFMEND_TEXT_UNREADABLE_EXTENT, archive.pathOf(bad.name).c_str(),
            unreadable(bad.notRegular, bad.error, reason != check.reasons.end() ? reason->second : "")
                .c_str()));
    }
    if (!check.missing.empty()) {
        return Result::failure(formatText(NSFMEND_TEXT_MISSING_EXTENT,
                      extentName(check.missing.front().first).c_str(), backupDir,
                      describeExtentRanges(check.missing, kRangesPerMessage).c_str()));
    }
    return Result::ok();
}

// Copies of one extent that disagree: asked after the records, whose text
// names the damaged copy where the records list it.
Result disagreement(const ExtentChain &chain) {
    if (chain.disagreeing.empty()) return Result::ok();
    const DisagreeingCopies &copies = chain.disagreeing.front();
    return Result::failure(formatText(NSFMEND_TEXT_DISAGREEING_COPIES, extentName(copies.number).c_str(),
                  copies.longest.c_str(), copies.other.c_str()));
}

// The first record that cannot serve, then the first file a record lists
// that is gone, cannot be read or is not what its line says, then records
// of more than one log; ok when there is none of these. A file no
// record names is judged by the chain alone, and one that has grown from
// its recorded bytes (a run stopped before it recorded its completion of a
// capture) is no fault.
Result recordFault(const char *backupDir, const Storage &archive, const RecordCheck &check) {
    if (!check.records.faults.empty()) {
        const RecordFault &fault = check.records.faults.front();
        const std::string path = archive.pathOf(fault.record);
        if (fault.error != 0)
            return Result::failure(formatText(
                NSFMEND_TEXT_UNREADABLE_RECORD, path.c_str(),
                unreadable(fault.error == EINVAL, fault.error, fault.reason).c_str()));
        return Result::failure(formatText(NSFMEND_TEXT_DAMAGED_RECORD, path.c_str(),
                                          fault.line));
    }
    for (const RecordFinding &finding : check.findings) {
        const std::string path = archive.pathOf(finding.name);
        if (finding.match == RecordMatch::kMissing) {
            return Result::failure(formatText(NSFMEND_TEXT_MISSING_FILE,
                          path.c_str(), finding.record.c_str()));
        }
    }
    for (const RecordFinding &finding : check.findings) {
        const std::string path = archive.pathOf(finding.name);
        if (finding.match == RecordMatch::kUnreadable) {
            return Result::failure(formatText(
                NSFMEND_TEXT_UNREADABLE_FILE, path.c_str(),
                unreadable(finding.error == EINVAL, finding.error, finding.reason).c_str()));
        }
        if (finding.match == RecordMatch::kDiffers) {
            return Result::failure(formatText(NSFMEND_TEXT_MISMATCH,
                          path.c_str(), finding.record.c_str(), describeMismatch(finding).c_str()));
        }
    }
    if (check.logs.size() > 1) {
        return Result::failure(formatText(NSFMEND_TEXT_SEVERAL_LOGS, backupDir,
                      describeLogs(check.logs).c_str()));
    }
    return Result::ok();
}

}  // namespace
}  // namespace nsfmend

namespace nsfmend {
namespace {

Result verifyArchive(const char *backupDir, const char *logDir) {
    if (backupDir == nullptr || backupDir[0] == '\0')
        return Result::failure(NSFMEND_TEXT_INVALID_BACKUP_DIR);
    const bool withServer = logDir != nullptr && logDir[0] != '\0';
    Result result = checkPathFits(backupDir);
    if (result.isOk() && withServer) result = checkPathFits(logDir);
    if (!result.isOk()) return result;
    std::unique_ptr<Storage> archive;
    result = openStorage(backupDir, &archive);
    if (!result.isOk()) return result;
    ArchiveCheck check;
    const Result listed = checkArchive(*archive, logDir, &check);
    if (!listed.isOk()) return listFailure(backupDir, listed);
    result = chainFault(backupDir, *archive, check);
    if (result.isOk()) result = recordFault(backupDir, *archive, check.records);
    if (result.isOk()) result = disagreement(check.chain);
    if (!result.isOk() || !withServer) return result;
    if (check.serverError != 0) return listFailure(logDir, Result::system(check.serverError));
    if (!check.lacking.empty())
        return Result::failure(
            formatText(NSFMEND_TEXT_LACKING_EXTENTS, logDir, backupDir,
                       describeExtentRanges(check.lacking, kRangesPerMessage).c_str()));
    return Result::ok();
}

}  // namespace
}  // namespace nsfmend

extern "C" void verifyNsfArchiveLogs(const char *backupDir, const char *logDir, char *msg) {
    if (msg == nullptr) return;
    nsfmend::putResult(nsfmend::verifyArchive(backupDir, logDir), msg);
}
