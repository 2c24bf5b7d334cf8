// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
STATUS ConvertTextToTIMEDATE(const INTLFORMAT *, const TFMT *, char **, WORD, TIMEDATE *) { return EMU_ERR_BAD_TIME; }
STATUS ConvertTIMEDATEToText(const INTLFORMAT *, const TFMT *, const TIMEDATE *, char *t, WORD, WORD *l) { t[0] = 0; if (l) *l = 0; return EMU_ERR_BAD_TIME; }
BOOL TimeGMToLocal(TIME *) { return TRUE; }
BOOL TimeLocalToGM(TIME *) { return TRUE; }
}
