// The words of the archive loop's and the capture's failures, said alike
// whether the archive is a folder or a store.
#ifndef NSFMEND_AGENT_ARCHIVED_COPY_H
#define NSFMEND_AGENT_ARCHIVED_COPY_H

#include <string>

#include "support/result.h"

namespace nsfmend {

// "Error copying file <source> to <archivedName>. <reason>": the system's
// text for an errno, a store's own words otherwise.
Result copyFailure(const char *source, const std::string &archivedName, const Result &reason);
// "Archived name too long (over 1023 characters): <name>".
Result archivedNameTooLong(const std::string &archivedName);
// The failures of the run's archive record: "Error recording archived file
// <archivedName> in <record>. <reason>" (what the copy holds could not be
// asked for its checksum) and "Error writing archive record <record>.
// <reason>".
Result recordFailure(const std::string &archivedName, const std::string &record,
                     const Result &reason);
Result recordWriteFailure(const std::string &record, const Result &reason);

}  // namespace nsfmend

#endif
