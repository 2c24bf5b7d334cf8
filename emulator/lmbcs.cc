// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
WORD OSTranslate(WORD, const char *in, WORD, char *out, WORD n) { snprintf(out, n, "%s", in); return 0; }
}
