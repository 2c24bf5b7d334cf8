// Every text the agent's operations may leave in the caller's message
// buffer besides the status strings and the platform's and the system's
// texts. Each is written here once: the operations format these (the
// compiler checks every use against its format), agent.h lists them for
// the library's callers, and a unit test holds that list to agentTexts().
#ifndef NSFMEND_AGENT_TEXTS_H
#define NSFMEND_AGENT_TEXTS_H

#include <string>
#include <vector>

// The one list of them, X(name, text): the constants below and the list
// agentTexts() returns are both made from it, so a text the operations
// format is always one the test compares with agent.h.
#define NSFMEND_AGENT_TEXTS(X)                                                              \
    /* The archiving operations. */                                                         \
    X(NSFMEND_TEXT_INVALID_DESTINATION, "Invalid destination directory: empty")            \
    X(NSFMEND_TEXT_CREATING_DIRECTORY, "Error creating directory %s. %s")                  \
    X(NSFMEND_TEXT_COPYING, "Error copying file %s to %s. %s")                             \
    X(NSFMEND_TEXT_NO_FILES_TO_CAPTURE, "No files under transaction log dir: %s\n")        \
    X(NSFMEND_TEXT_RECORDING, "Error recording archived file %s in %s. %s")                \
    X(NSFMEND_TEXT_WRITING_RECORD, "Error writing archive record %s. %s")                  \
    /* verifyNsfArchiveLogs. */                                                             \
    X(NSFMEND_TEXT_INVALID_BACKUP_DIR, "Invalid backup directory: empty")                  \
    X(NSFMEND_TEXT_NO_ARCHIVED_EXTENTS, "No archived extents in %s")                       \
    X(NSFMEND_TEXT_UNREADABLE_EXTENT, "Cannot read archived extent %s, Reason=%s")         \
    X(NSFMEND_TEXT_MISSING_EXTENT, "Missing extent %s in %s (missing: %s)")                \
    X(NSFMEND_TEXT_UNREADABLE_RECORD, "Cannot read archive record %s, Reason=%s")          \
    X(NSFMEND_TEXT_DAMAGED_RECORD, "Archive record %s is damaged at line %zu")             \
    X(NSFMEND_TEXT_MISSING_FILE, "Archived file %s listed in archive record %s is missing") \
    X(NSFMEND_TEXT_UNREADABLE_FILE, "Cannot read archived file %s, Reason=%s")             \
    X(NSFMEND_TEXT_MISMATCH, "Archived file %s does not match archive record %s (%s)")     \
    X(NSFMEND_TEXT_SEVERAL_LOGS, "Extents of more than one log in %s: %s")                 \
    X(NSFMEND_TEXT_DISAGREEING_COPIES, "Copies of extent %s disagree: %s and %s")          \
    X(NSFMEND_TEXT_LACKING_EXTENTS, "Extents of the log directory %s missing from %s: %s")

// Constant arrays, which the compiler checks as formats as it does a literal.
#define NSFMEND_DEFINE_TEXT(name, text) inline constexpr char name[] = text;
NSFMEND_AGENT_TEXTS(NSFMEND_DEFINE_TEXT)
#undef NSFMEND_DEFINE_TEXT

namespace nsfmend {

// Every text above and those the layers below give the agent (the
// too-long texts built from the buffer sizes, the restore's refusals, the
// run lock's, the missing log directory, a listing that failed), as
// formats.
std::vector<std::string> agentTexts();

}  // namespace nsfmend

#endif
