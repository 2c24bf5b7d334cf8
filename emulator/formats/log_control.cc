#include "formats/log_control.h"

#include "formats/codec.h"
#include "runtime/messages.h"
#include "runtime/paths.h"

namespace emu {

namespace {

constexpr std::string_view kControlMagic("NEMULCF1", 8);
constexpr uint32_t kControlVersion = 1;

}  // namespace

std::string ControlPath(const std::string &logDir) { return JoinPath(logDir, kLogControlName); }

std::string EncodeControl(const LogControl &ctl) {
    Writer w;
    w.Bytes(kControlMagic);
    w.U32(kControlVersion);
    w.Unid(ctl.logId);
    w.U32(ctl.current);
    w.U64(ctl.nextSeq);
    w.U32(static_cast<uint32_t>(ctl.archived.size()));
    for (uint32_t n : ctl.archived) w.U32(n);
    return w.Sealed();
}

STATUS DecodeControl(const void *data, size_t size, LogControl *out) {
    Reader r(data, size);
    if (size < 12 || !SealIntact(data, size) || !r.Begins(kControlMagic, kControlVersion))
        return EMU_ERR_LOGCTRL_CORRUPT;
    LogControl ctl;
    ctl.logId = r.Unid();
    ctl.current = r.U32();
    ctl.nextSeq = r.U64();
    uint32_t count = r.U32();
    if (!r.ok() || count > (r.left() / 4)) return EMU_ERR_LOGCTRL_CORRUPT;
    for (uint32_t i = 0; i < count; i++) ctl.archived.insert(r.U32());
    r.U32();
    if (!r.ok() || r.left() != 0 || ctl.current == 0 || ctl.nextSeq == 0)
        return EMU_ERR_LOGCTRL_CORRUPT;
    *out = std::move(ctl);
    return NOERROR;
}

}  // namespace emu
