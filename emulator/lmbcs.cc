// Placeholder: replaced by the real implementation.
#include <stdio.h>

#include "emulator.h"

extern "C" {
WORD OSTranslate(WORD, const char *in, WORD, char *out, WORD n) { snprintf(out, n, "%s", in); return 0; }
}

namespace emu {
std::string LmbcsToNative(std::string_view s) { return std::string(s); }
std::string NativeToLmbcs(std::string_view s) { return std::string(s); }
}  // namespace emu
