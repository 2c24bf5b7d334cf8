// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
WORD OSLoadString(HMODULE, STATUS, char *b, WORD) { b[0] = 0; return 0; }
}
