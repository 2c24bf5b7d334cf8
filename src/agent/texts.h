// Every text the agent's operations may leave in the caller's message
// buffer besides the status strings and the platform's and the system's
// texts. Each is written here once: the operations format these (macros, so
// the compiler checks every use against its format), agent.h lists them for
// the library's callers, and a unit test holds that list to agentTexts().
#ifndef NSFMEND_AGENT_TEXTS_H
#define NSFMEND_AGENT_TEXTS_H

#include <string>
#include <vector>

// The archiving operations.
#define NSFMEND_TEXT_INVALID_DESTINATION "Invalid destination directory: empty"
#define NSFMEND_TEXT_CREATING_DIRECTORY "Error creating directory %s. %s"
#define NSFMEND_TEXT_COPYING "Error copying file %s to %s. %s"
#define NSFMEND_TEXT_NO_FILES_TO_CAPTURE "No files under transaction log dir: %s\n"
#define NSFMEND_TEXT_RECORDING "Error recording archived file %s in %s. %s"
#define NSFMEND_TEXT_WRITING_RECORD "Error writing archive record %s. %s"

// verifyNsfArchiveLogs.
#define NSFMEND_TEXT_INVALID_BACKUP_DIR "Invalid backup directory: empty"
#define NSFMEND_TEXT_NO_ARCHIVED_EXTENTS "No archived extents in %s"
#define NSFMEND_TEXT_UNREADABLE_EXTENT "Cannot read archived extent %s, Reason=%s"
#define NSFMEND_TEXT_MISSING_EXTENT "Missing extent %s in %s (missing: %s)"
#define NSFMEND_TEXT_UNREADABLE_RECORD "Cannot read archive record %s, Reason=%s"
#define NSFMEND_TEXT_DAMAGED_RECORD "Archive record %s is damaged at line %zu"
#define NSFMEND_TEXT_MISSING_FILE "Archived file %s listed in archive record %s is missing"
#define NSFMEND_TEXT_UNREADABLE_FILE "Cannot read archived file %s, Reason=%s"
#define NSFMEND_TEXT_MISMATCH "Archived file %s does not match archive record %s (%s)"
#define NSFMEND_TEXT_SEVERAL_LOGS "Extents of more than one log in %s: %s"
#define NSFMEND_TEXT_DISAGREEING_COPIES "Copies of extent %s disagree: %s and %s"
#define NSFMEND_TEXT_LACKING_EXTENTS "Extents of the log directory %s missing from %s: %s"

namespace nsfmend {

// Every text above and those the layers below give the agent (the
// too-long texts built from the buffer sizes, the restore's refusals, the
// run lock's, the missing log directory, a listing that failed), as
// formats.
std::vector<std::string> agentTexts();

}  // namespace nsfmend

#endif
