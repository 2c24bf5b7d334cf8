// verifyNsfArchiveLogs: whether an archive folder holds what a recovery
// needs: an unbroken run of extent numbers, copies of one extent that agree,
// files that are still what the archive records say was archived, and (when
// asked) every extent the server's log directory holds. It only reads, so it
// takes no run lock and needs nothing of the runtime.
#include <errno.h>

#include <string>

#include "agent/status_ops.h"
#include "support/text.h"
#include "translog/archive_check.h"

namespace nsfmend {
namespace {

// How many missing extents one message names before it counts the rest.
constexpr size_t kRangesPerMessage = 20;

void describeListFailure(const char *dir, int error, char *msg) {
    formatMessage(msg, "Fail to list directory %s, Reason=%s", dir, systemText(error).c_str());
}

// The first extent that cannot be read or is missing, in msg; false when
// there is none.
bool describeChainFault(const char *backupDir, const ArchiveCheck &check, char *msg) {
    const ExtentChain &chain = check.chain;
    if (chain.numbers.empty() && check.missing.empty()) {
        formatMessage(msg, "No archived extents in %s", backupDir);
        return true;
    }
    if (!chain.bad.empty()) {
        const BadExtentFile &bad = chain.bad.front();
        formatMessage(msg, "Cannot read archived extent %s, Reason=%s",
                      joinPath(backupDir, bad.name).c_str(),
                      bad.notRegular ? "Not a regular file" : systemText(bad.error).c_str());
        return true;
    }
    if (!check.missing.empty()) {
        formatMessage(msg, "Missing extent %s in %s (missing: %s)",
                      extentName(check.missing.front().first).c_str(), backupDir,
                      describeExtentRanges(check.missing, kRangesPerMessage).c_str());
        return true;
    }
    return false;
}

// Copies of one extent that disagree: asked after the records, whose text
// names the damaged copy where the records list it.
bool describeDisagreement(const ExtentChain &chain, char *msg) {
    if (chain.disagreeing.empty()) return false;
    const DisagreeingCopies &copies = chain.disagreeing.front();
    formatMessage(msg, "Copies of extent %s disagree: %s and %s", extentName(copies.number).c_str(),
                  copies.longest.c_str(), copies.other.c_str());
    return true;
}

// The first record that cannot serve, then the first file a record lists
// that is gone, cannot be read or is not what its line says, then records
// of more than one log; false when there is none of these. A file no
// record names is judged by the chain alone, and one that has grown from
// its recorded bytes (a run stopped before it recorded its completion of a
// capture) is no fault.
bool describeRecordFault(const char *backupDir, const RecordCheck &check, char *msg) {
    if (!check.records.faults.empty()) {
        const RecordFault &fault = check.records.faults.front();
        const std::string path = joinPath(backupDir, fault.record);
        if (fault.error != 0)
            formatMessage(msg, "Cannot read archive record %s, Reason=%s", path.c_str(),
                          fault.error == EINVAL ? "Not a regular file"
                                                : systemText(fault.error).c_str());
        else
            formatMessage(msg, "Archive record %s is damaged at line %zu", path.c_str(),
                          fault.line);
        return true;
    }
    for (const RecordFinding &finding : check.findings) {
        const std::string path = joinPath(backupDir, finding.name);
        if (finding.match == RecordMatch::kMissing) {
            formatMessage(msg, "Archived file %s listed in archive record %s is missing",
                          path.c_str(), finding.record.c_str());
            return true;
        }
    }
    for (const RecordFinding &finding : check.findings) {
        const std::string path = joinPath(backupDir, finding.name);
        if (finding.match == RecordMatch::kUnreadable) {
            formatMessage(msg, "Cannot read archived file %s, Reason=%s", path.c_str(),
                          finding.error == EINVAL ? "Not a regular file"
                                                  : systemText(finding.error).c_str());
            return true;
        }
        if (finding.match == RecordMatch::kDiffers) {
            formatMessage(msg, "Archived file %s does not match archive record %s (%s)",
                          path.c_str(), finding.record.c_str(), describeMismatch(finding).c_str());
            return true;
        }
    }
    if (check.logs.size() > 1) {
        formatMessage(msg, "Extents of more than one log in %s: %s", backupDir,
                      describeLogs(check.logs).c_str());
        return true;
    }
    return false;
}

}  // namespace
}  // namespace nsfmend

extern "C" void verifyNsfArchiveLogs(const char *backupDir, const char *logDir, char *msg) {
    if (msg == nullptr) return;
    if (backupDir == nullptr || backupDir[0] == '\0') {
        nsfmend::setMessage(msg, "Invalid backup directory: empty");
        return;
    }
    const bool withServer = logDir != nullptr && logDir[0] != '\0';
    if (nsfmend::refuseLongPath(backupDir, msg)) return;
    if (withServer && nsfmend::refuseLongPath(logDir, msg)) return;
    nsfmend::ArchiveCheck check;
    const int listed = nsfmend::checkArchiveFolder(backupDir, logDir, &check);
    if (listed != 0) {
        nsfmend::describeListFailure(backupDir, listed, msg);
        return;
    }
    if (nsfmend::describeChainFault(backupDir, check, msg)) return;
    if (nsfmend::describeRecordFault(backupDir, check.records, msg)) return;
    if (nsfmend::describeDisagreement(check.chain, msg)) return;
    if (withServer) {
        if (check.serverError != 0) {
            nsfmend::describeListFailure(logDir, check.serverError, msg);
            return;
        }
        if (!check.lacking.empty()) {
            nsfmend::formatMessage(
                msg, "Extents of the log directory %s missing from %s: %s", logDir, backupDir,
                nsfmend::describeExtentRanges(check.lacking, nsfmend::kRangesPerMessage).c_str());
            return;
        }
    }
    nsfmend::setMessage(msg, NSFMEND_QMR_SUCCESS);
}
