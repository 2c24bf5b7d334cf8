// The pieces the details of OPT=CHECK's and OPT=VERIFY's findings share.
#ifndef NSFMEND_CLI_LINES_H
#define NSFMEND_CLI_LINES_H

#include <stddef.h>

#include <string>
#include <vector>

namespace nsfmend {

// How many names or ranges one line gives before it counts the rest.
constexpr size_t kNamesPerLine = 20;

// The names, ", " between, past kNamesPerLine ", and N more".
std::string namesText(const std::vector<std::string> &names);
// text + ", Reason=" + the system's text for error.
std::string withReason(const std::string &text, int error);
// withReason for a file a reader refused: EINVAL, which the readers give
// for anything but a regular file, says so.
std::string withFileReason(const std::string &text, int error);
// text + ", Reason=" + why a file could not be read: a store's own words
// where it gave some, else as withFileReason.
std::string unreadable(const std::string &text, int error, const std::string &reason);

}  // namespace nsfmend

#endif
