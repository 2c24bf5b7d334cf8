// Handing full log extents to a backup agent: the archiving bracket
// (NSFBeginArchivingLogs ... NSFEndArchivingLogs) and NSFGetTransLogStyle.
#ifndef NOTESEMU_SERVER_ARCHIVE_H
#define NOTESEMU_SERVER_ARCHIVE_H

namespace emu {

// Closes this process's bracket, if one is open, and lets its lock go (the
// runtime's start and stop, and NSFEndArchivingLogs).
void ResetArchiving();

}  // namespace emu

#endif
