// Open databases: NSFDbOpen hands out handles, small integers naming a slot
// of a per-process table, valid until NSFDbClose.
#ifndef NOTESEMU_SERVER_DATABASE_H
#define NOTESEMU_SERVER_DATABASE_H

namespace emu {

// Empties the table when the runtime starts or stops; a handle still open is
// a leak in the caller, reported to the tests first.
void CloseAllDatabases();

}  // namespace emu

#endif
