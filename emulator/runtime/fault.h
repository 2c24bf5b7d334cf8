// Fault injection: NOTESEMU_FAIL="Call=status,Call#n=status,..." makes an
// exported call fail as a real server would, without mocking the program.
#ifndef NOTESEMU_RUNTIME_FAULT_H
#define NOTESEMU_RUNTIME_FAULT_H

#include "notesapi/notesapi.h"

namespace emu {

// True (and *status set) when the environment asks this call, or its n-th
// call in this process, to fail.
bool InjectedFault(const char *call, STATUS *status);

}  // namespace emu

#endif
