// The server model's hooks into the runtime's start and stop.
#include "emulator.h"

namespace emu {

STATUS OnRuntimeStart() { return NOERROR; }
void OnRuntimeStop() {}

}  // namespace emu
