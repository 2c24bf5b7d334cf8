// One file into the archive, under the rules that make an archiving run safe
// to repeat after it was stopped at any point, or after a capture of an
// extent the server was still filling.
#ifndef NSFMEND_AGENT_ARCHIVED_COPY_H
#define NSFMEND_AGENT_ARCHIVED_COPY_H

#include <string>

#include "support/result.h"

namespace nsfmend {
class Sha256;

// Copies source to archivedName, which must not be replaced by anything
// else: a missing name gets a new copy; a byte-identical file is already the
// archived copy (it is synced, nothing is copied); a file whose bytes are
// the start of the source's (an earlier capture of a half-filled extent) is
// replaced whole by the full copy. Anything else there is left untouched
// and gives EEXIST. 0 once archivedName holds the source's bytes on disk,
// with *digest taken from those bytes as they were copied or compared (the
// archived file is never read again for it); otherwise the errno of the
// failing step, or -1.
int archiveFile(const char *source, const char *archivedName, Sha256 *digest);

// The failures of the archive loop and the capture: "Error copying file
// <source> to <archivedName>. <system text>", and "Archived name too long
// (over 1023 characters): <name>".
Result copyFailure(const char *source, const char *archivedName, int error);
Result archivedNameTooLong(const std::string &archivedName);
// The failures of the run's archive record: "Error recording archived file
// <archivedName> in <record>. <system text>" (the copy could not be read
// for its checksum) and "Error writing archive record <record>. <system
// text>".
Result recordFailure(const std::string &archivedName, const std::string &record, int error);
Result recordWriteFailure(const std::string &record, int error);

// Removes the temporary files that interrupted runs left in the folder the
// archived names are made in (destDir is their common start). Leftovers are
// hidden and never taken for an extent, so a folder that cannot be cleaned
// does not stop the archiving.
void removeArchiveLeftovers(const char *destDir);

}  // namespace nsfmend

#endif
