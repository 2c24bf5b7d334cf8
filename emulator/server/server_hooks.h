// Per-process state of the exported calls that the runtime's stop resets.
#ifndef NOTESEMU_SERVER_HOOKS_H
#define NOTESEMU_SERVER_HOOKS_H

#include <stddef.h>

namespace emu {

void CloseAllDatabases();    // database.cc; reports any still open
void ResetArchiving();       // archive.cc

}  // namespace emu

#endif
