#include "server/txlog.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "formats/codec.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/paths.h"
#include "runtime/runtime.h"

namespace emu {

namespace {

// The control file is a few dozen bytes plus four per archived extent.
constexpr int64_t kMaxControlSize = int64_t(1) << 24;

}  // namespace

bool LoggingOn() { return Setting("TRANSLOG_Status") == "1"; }

long LogStyle() { return strtol(Setting("TRANSLOG_Style").c_str(), nullptr, 10); }

STATUS LoadLogConfig(LogConfig *cfg) {
    LogConfig c;
    c.dataDir = DataDir();
    std::string path = Setting("TRANSLOG_Path");
    if (path.empty()) return EMU_ERR_NO_LOG_DIR;
    c.logDir = IsAbsolute(path) ? path : JoinPath(c.dataDir, path);
    while (c.logDir.size() > 1 && c.logDir.back() == '/') c.logDir.pop_back();
    c.logging = LoggingOn();
    c.style = LogStyle();
    long per = strtol(Setting("NOTESEMU_Extent_Records").c_str(), nullptr, 10);
    c.extentRecords = (per >= 1 && per <= 1000000) ? static_cast<uint32_t>(per) : kDefaultExtentRecords;
    c.recreateLogctrl = Setting("TRANSLOG_Recreate_Logctrl") == "1";
    *cfg = std::move(c);
    return NOERROR;
}

STATUS RebuildControl(const LogConfig &cfg, LogControl *out) {
    std::vector<uint32_t> numbers;
    int err = ListExtents(cfg.logDir, &numbers);
    if (err != 0) return FileStatus(err);
    LogControl ctl;
    if (numbers.empty()) {
        // Nothing to rebuild from: the server starts a new log.
        ctl.logId = RandomUnid();
        *out = ctl;
        return NOERROR;
    }
    Extent last;
    STATUS st = ReadExtent(cfg.logDir, numbers.back(), &last);
    if (st != NOERROR) return st;
    ctl.logId = last.logId;
    ctl.current = numbers.back();
    // Even an empty newest extent knows where the log stands: its header
    // holds the number its first record would get.
    ctl.nextSeq = last.firstSeq + last.records.size();
    *out = std::move(ctl);
    return NOERROR;
}

STATUS LoadControl(const LogConfig &cfg, LogControl *ctl, bool *rebuilt) {
    if (rebuilt) *rebuilt = false;
    // A write of the control file killed midway left its temporary file in
    // the log folder, where it would look like a file of the log's own.
    RemoveStaleTemps(ControlPath(cfg.logDir));
    std::string bytes;
    int err = ReadWholeFile(ControlPath(cfg.logDir), &bytes, kMaxControlSize);
    if (err == ENOENT) {
        if (rebuilt) *rebuilt = true;
        return RebuildControl(cfg, ctl);
    }
    if (err != 0) return err == EFBIG || err == EISDIR ? STATUS(EMU_ERR_LOGCTRL_CORRUPT) : FileStatus(err);
    return DecodeControl(bytes.data(), bytes.size(), ctl);
}

STATUS SaveControl(const LogConfig &cfg, const LogControl &ctl) {
    return FileStatus(WriteFileAtomic(ControlPath(cfg.logDir), EncodeControl(ctl)));
}

STATUS CreateLog(const LogConfig &cfg, LogControl *out) {
    if (mkdir(cfg.logDir.c_str(), 0755) != 0 && errno != EEXIST) return FileStatus(errno);
    LogControl ctl;
    ctl.logId = RandomUnid();
    STATUS st = CreateExtent(cfg.logDir, ctl.logId, ctl.current, ctl.nextSeq);
    if (st == NOERROR) st = SaveControl(cfg, ctl);
    if (st == NOERROR && out) *out = ctl;
    return st;
}

STATUS AppendRecord(const LogConfig &cfg, LogRecord *rec, uint32_t *extent) {
    LogControl ctl;
    STATUS st = LoadControl(cfg, &ctl);
    if (st != NOERROR) return st;
    Extent cur;
    st = ReadExtent(cfg.logDir, ctl.current, &cur);
    if (st == EMU_ERR_FILE_NOT_FOUND) {
        st = CreateExtent(cfg.logDir, ctl.logId, ctl.current, ctl.nextSeq);
        cur.records.clear();
    }
    if (st != NOERROR) return st;
    if (cur.records.size() >= cfg.extentRecords) {
        // Full already (the setting shrank): start the next one first.
        ctl.current++;
        st = CreateExtent(cfg.logDir, ctl.logId, ctl.current, ctl.nextSeq);
        if (st != NOERROR) return st;
        cur.records.clear();
    }
    rec->seq = ctl.nextSeq;
    int err = AppendFileSynced(ExtentPath(cfg.logDir, ctl.current), EncodeRecord(*rec));
    if (err != 0) return FileStatus(err);
    *extent = ctl.current;
    ctl.nextSeq++;
    // An extent is closed the moment it is full, so "full" always means
    // "below the current one" to the archiving calls.
    if (cur.records.size() + 1 >= cfg.extentRecords) {
        ctl.current++;
        st = CreateExtent(cfg.logDir, ctl.logId, ctl.current, ctl.nextSeq);
        if (st != NOERROR) return st;
    }
    return SaveControl(cfg, ctl);
}

STATUS RollOver(const LogConfig &cfg, uint32_t *newCurrent) {
    LogControl ctl;
    STATUS st = LoadControl(cfg, &ctl);
    if (st != NOERROR) return st;
    ctl.current++;
    st = CreateExtent(cfg.logDir, ctl.logId, ctl.current, ctl.nextSeq);
    if (st != NOERROR) return st;
    if (newCurrent) *newCurrent = ctl.current;
    return SaveControl(cfg, ctl);
}

}  // namespace emu
