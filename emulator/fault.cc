// Placeholder: replaced by the real implementation.
#include "emulator.h"

namespace emu {
bool InjectedFault(const char *, STATUS *) { return false; }
}  // namespace emu
