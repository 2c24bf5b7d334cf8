// Handing full log extents to a backup agent. One archiving bracket at a
// time per server, as a real server has: Begin, First/Next (each full,
// unarchived extent once, ascending), Done per extent copied, End. Across
// processes the bracket is an advisory lock on a hidden file of the data
// folder, held from Begin to End; a process that dies lets it go.
#include "server/archive.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>

#include <set>
#include <string>
#include <vector>

#include "formats/codec.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/paths.h"
#include "runtime/runtime.h"
#include "server/state.h"
#include "server/txlog.h"

namespace {

struct Bracket {
    bool open = false;
    bool listed = false;
    emu::LogConfig cfg;
    UNID logId{};
    std::vector<uint32_t> pending;
    size_t next = 0;
    std::set<uint32_t> handedOut;
};

Bracket g_bracket;
// The bracket's lock, kept apart from g_bracket, which is reset by value.
emu::Fd g_bracketLock;

constexpr const char *kBracketLockName = ".notesemu-archiving";

// EMU_ERR_ARCHIVE_BUSY while another process has a bracket open.
STATUS TakeBracketLock(const std::string &dataDir) {
    emu::Fd fd(open(emu::JoinPath(dataDir, kBracketLockName).c_str(),
                    O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) return emu::FileStatus(errno);
    while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return EMU_ERR_ARCHIVE_BUSY;
        return emu::FileStatus(errno);
    }
    g_bracketLock.Reset(fd.Release());
    return NOERROR;
}

constexpr size_t kPathBuffer = 1024;  // the callers' extent path buffer

STATUS ListPending() {
    emu::LogControl ctl;
    STATUS st = emu::LoadControl(g_bracket.cfg, &ctl);
    if (st != NOERROR) return st;
    std::vector<uint32_t> numbers;
    int err = emu::ListExtents(g_bracket.cfg.logDir, &numbers);
    if (err != 0) return emu::FileStatus(err);
    g_bracket.pending.clear();
    for (uint32_t n : numbers)
        if (n < ctl.current && ctl.archived.count(n) == 0) g_bracket.pending.push_back(n);
    g_bracket.logId = ctl.logId;
    g_bracket.next = 0;
    g_bracket.listed = true;
    return NOERROR;
}

STATUS HandOut(UNID *logID, DWORD *logNumber, char *logPath) {
    if (logID == nullptr || logNumber == nullptr || logPath == nullptr) return EMU_ERR_BAD_ARGUMENT;
    if (g_bracket.next >= g_bracket.pending.size()) return EMU_NO_LOG_TO_ARCHIVE;
    uint32_t number = g_bracket.pending[g_bracket.next];
    std::string path = emu::ExtentPath(g_bracket.cfg.logDir, number);
    // A cut path would make the agent copy some other file.
    if (path.size() >= kPathBuffer) return EMU_ERR_BAD_ARGUMENT;
    g_bracket.next++;
    (void)snprintf(logPath, kPathBuffer, "%s", path.c_str());
    *logID = g_bracket.logId;
    *logNumber = number;
    g_bracket.handedOut.insert(number);
    return NOERROR;
}

}  // namespace

namespace emu {
void ResetArchiving() {
    g_bracket = Bracket();
    g_bracketLock.Close();
}
}  // namespace emu

extern "C" {

// Styles pass through as notes.ini gives them: 0 circular, 1 archive,
// 2 linear, anything else as it is.
STATUS NSFGetTransLogStyle(WORD *logType) {
    STATUS st = emu::CheckCall("NSFGetTransLogStyle");
    if (st != NOERROR) return st;
    if (logType == nullptr) return EMU_ERR_BAD_ARGUMENT;
    if (!emu::LoggingOn()) return EMU_LOGGING_OFF;
    *logType = static_cast<WORD>(emu::LogStyle());
    return NOERROR;
}

// Circular and linear logs reuse their extents themselves, so only the
// other styles hand extents out.
STATUS NSFBeginArchivingLogs(void) {
    STATUS st = emu::CheckCall("NSFBeginArchivingLogs");
    if (st != NOERROR) return st;
    if (!emu::LoggingOn()) return EMU_LOGGING_OFF;
    long style = emu::LogStyle();
    if (style == 0 || style == 2) return EMU_ERR_NOT_ARCHIVE_STYLE;
    if (g_bracket.open) return EMU_ERR_ARCHIVE_BUSY;
    emu::LogConfig cfg;
    st = emu::LoadLogConfig(&cfg);
    if (st != NOERROR) return st;
    st = TakeBracketLock(cfg.dataDir);
    if (st != NOERROR) return st;
    g_bracket = Bracket();
    g_bracket.cfg = cfg;
    g_bracket.open = true;
    return NOERROR;
}

STATUS NSFEndArchivingLogs(void) {
    STATUS st = emu::CheckCall("NSFEndArchivingLogs");
    if (st != NOERROR) return st;
    if (!g_bracket.open) return EMU_ERR_ARCHIVE_NOT_BEGUN;
    emu::ResetArchiving();
    return NOERROR;
}

STATUS NSFGetFirstLogToArchive(UNID *logID, DWORD *logNumber, char *logPath) {
    STATUS st = emu::CheckCall("NSFGetFirstLogToArchive");
    if (st != NOERROR) return st;
    if (!g_bracket.open) return EMU_ERR_ARCHIVE_NOT_BEGUN;
    st = ListPending();
    if (st != NOERROR) return st;
    return HandOut(logID, logNumber, logPath);
}

// Without a First, Next starts the list itself.
STATUS NSFGetNextLogToArchive(UNID *logID, DWORD *logNumber, char *logPath) {
    STATUS st = emu::CheckCall("NSFGetNextLogToArchive");
    if (st != NOERROR) return st;
    if (!g_bracket.open) return EMU_ERR_ARCHIVE_NOT_BEGUN;
    if (!g_bracket.listed) {
        st = ListPending();
        if (st != NOERROR) return st;
    }
    return HandOut(logID, logNumber, logPath);
}

STATUS NSFDoneArchivingLog(UNID *logID, DWORD *logNumber) {
    STATUS st = emu::CheckCall("NSFDoneArchivingLog");
    if (st != NOERROR) return st;
    if (!g_bracket.open) return EMU_ERR_ARCHIVE_NOT_BEGUN;
    if (logID == nullptr || logNumber == nullptr) return EMU_ERR_BAD_ARGUMENT;
    if (g_bracket.handedOut.count(*logNumber) == 0 || !emu::UnidEqual(*logID, g_bracket.logId))
        return EMU_ERR_ARCHIVE_UNKNOWN_EXTENT;
    emu::DirLock lock(g_bracket.cfg.dataDir);
    emu::LogControl ctl;
    st = emu::LoadControl(g_bracket.cfg, &ctl);
    if (st != NOERROR) return st;
    if (!emu::UnidEqual(ctl.logId, g_bracket.logId)) return EMU_ERR_ARCHIVE_UNKNOWN_EXTENT;
    ctl.archived.insert(*logNumber);
    return emu::SaveControl(g_bracket.cfg, ctl);
}

}  // extern "C"
