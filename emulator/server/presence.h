// A running server is a process: while it runs it holds its log folder
// open, as a real server holds its extents and control file. The emulated
// server has no process of its own, so `notesemu server start` leaves one
// behind that does just that, and nothing else, until the state file says
// the server stopped (or is gone, with the folder a test made it in). A
// program that must not touch a running server's log folder can see it the
// way it would see a real one: among the files a process holds open.
#ifndef NOTESEMU_SERVER_PRESENCE_H
#define NOTESEMU_SERVER_PRESENCE_H

#include "server/state.h"
#include "server/txlog.h"

namespace emu {

// After the state was saved as running: starts the process that stands for
// the server, unless one does already; its ID goes into state.presence
// (saved by the caller).
void StartPresence(const LogConfig &cfg, ServerState *state);
// After the state was saved as stopped: waits (a second at most) until the
// process that stood for the server has noticed and is gone.
void AwaitPresenceGone(long pid);

}  // namespace emu

#endif
