// verifyNsfArchiveLogs: whether an archive folder holds what a recovery
// needs: an unbroken run of extent numbers, copies of one extent that agree,
// and (when asked) every extent the server's log directory holds. It only
// reads, so it takes no run lock and needs nothing of the runtime.
#include <errno.h>

#include <string>

#include "agent/status_ops.h"
#include "support/text.h"
#include "translog/log_chain.h"

namespace nsfmend {
namespace {

// How many missing extents one message names before it counts the rest.
constexpr size_t kRangesPerMessage = 20;

// The chain of one folder, or false with the listing failure in msg.
bool readChain(const char *dir, ExtentNames names, ExtentChain *chain, char *msg) {
    const int listed = checkExtentChain(dir, names, chain);
    if (listed == 0) return true;
    formatMessage(msg, "Fail to list directory %s, Reason=%s", dir, systemText(listed).c_str());
    return false;
}

// The first thing wrong with the archive's own chain, in msg; false when
// nothing is.
bool describeChainFault(const char *backupDir, const ExtentChain &chain, char *msg) {
    if (chain.numbers.empty()) {
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
    if (!chain.missing.empty()) {
        formatMessage(msg, "Missing extent %s in %s (missing: %s)",
                      extentName(chain.missing.front().first).c_str(), backupDir,
                      describeExtentRanges(chain.missing, kRangesPerMessage).c_str());
        return true;
    }
    if (!chain.disagreeing.empty()) {
        const DisagreeingCopies &copies = chain.disagreeing.front();
        formatMessage(msg, "Copies of extent %s disagree: %s and %s",
                      extentName(copies.number).c_str(), copies.longest.c_str(),
                      copies.other.c_str());
        return true;
    }
    return false;
}

}  // namespace
}  // namespace nsfmend

using nsfmend::ExtentChain;
using nsfmend::ExtentNames;

extern "C" void verifyNsfArchiveLogs(const char *backupDir, const char *logDir, char *msg) {
    if (msg == nullptr) return;
    if (backupDir == nullptr || backupDir[0] == '\0') {
        nsfmend::setMessage(msg, "Invalid backup directory: empty");
        return;
    }
    const bool withServer = logDir != nullptr && logDir[0] != '\0';
    if (nsfmend::refuseLongPath(backupDir, msg)) return;
    if (withServer && nsfmend::refuseLongPath(logDir, msg)) return;
    ExtentChain archive;
    if (!nsfmend::readChain(backupDir, ExtentNames::kAnySuffix, &archive, msg)) return;
    if (nsfmend::describeChainFault(backupDir, archive, msg)) return;
    if (withServer) {
        // The server reads bare names only; so does this look at its folder.
        ExtentChain server;
        if (!nsfmend::readChain(logDir, ExtentNames::kBare, &server, msg)) return;
        const std::vector<nsfmend::ExtentRange> lacking = nsfmend::extentsNotIn(server, archive);
        if (!lacking.empty()) {
            nsfmend::formatMessage(
                msg, "Extents of the log directory %s missing from %s: %s", logDir, backupDir,
                nsfmend::describeExtentRanges(lacking, nsfmend::kRangesPerMessage).c_str());
            return;
        }
    }
    nsfmend::setMessage(msg, NSFMEND_QMR_SUCCESS);
}
