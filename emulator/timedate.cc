// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS ConvertTextToTIMEDATE(const INTLFORMAT *, const TFMT *, char **, WORD, TIMEDATE *) { return EMU_ERR_BAD_TIME; }
STATUS ConvertTIMEDATEToText(const INTLFORMAT *, const TFMT *, const TIMEDATE *, char *t, WORD, WORD *l) { t[0] = 0; if (l) *l = 0; return EMU_ERR_BAD_TIME; }
BOOL TimeGMToLocal(TIME *) { return TRUE; }
BOOL TimeLocalToGM(TIME *) { return TRUE; }
}

namespace emu {
TIMEDATE MakeTimeDate(int64_t h, int, bool) { TIMEDATE t; t.Innards[0] = (DWORD)h; t.Innards[1] = (DWORD)(h >> 32); return t; }
int64_t TimeDateHundredths(const TIMEDATE &t) { return (int64_t)(((uint64_t)t.Innards[1] << 32) | t.Innards[0]); }
bool ParseIsoUtc(std::string_view, int64_t *) { return false; }
std::string FormatIsoUtc(int64_t) { return std::string(); }
int64_t NowHundredths() { return 0; }
}  // namespace emu
