// Checks of a chain of extents in one folder: which extent numbers it holds,
// which are missing between the first and the last, which files cannot be
// read, and whether copies of one extent under several suffixes agree. A
// recovery needs every extent from the one a backup ends in to the newest;
// the command line's preflight and the agent's archive check both ask here,
// so they judge a folder alike.
#ifndef NSFMEND_TRANSLOG_LOG_CHAIN_H
#define NSFMEND_TRANSLOG_LOG_CHAIN_H

#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "notesapi/notesapi.h"

namespace nsfmend {

// The extent number and suffix of a name archivedName could have given:
// "S", the number in seven digits (or more, without a leading zero), ".TXN",
// then any suffix. False for every other name.
bool parseExtentName(std::string_view name, DWORD *number, std::string_view *suffix);

// Which names count as extents of a folder.
enum class ExtentNames {
    kBare,       // "S0000042.TXN" only: what the server reads from its log directory
    kAnySuffix,  // with any suffix as well: the copies in an archive folder
};

// Whether name is an extent of a folder under these rules, and which: a name
// of an extent's form (parseExtentName), without a suffix for kBare; with
// suffixes given (those the folder's archive records use), with one of
// them and never a folder. The archive check and the chain share it, so
// they cannot count a folder's extents apart.
bool isExtentOf(std::string_view name, ExtentNames names, const std::set<std::string> *suffixes,
                bool folder, DWORD *number);

// Extent numbers first to last, both included.
struct ExtentRange {
    DWORD first;
    DWORD last;
};

// A file named as an extent that cannot serve as one.
struct BadExtentFile {
    std::string name;
    bool notRegular;  // a FIFO, socket, device or folder: never opened
    int error;        // otherwise the errno of opening it
};

// Two copies of one extent of which neither is the start of the other.
struct DisagreeingCopies {
    DWORD number;
    std::string longest;  // the copy every other one is compared with: the
                          // longest; of equally long ones, the first by name
    std::string other;    // the first that is neither equal to it nor its start
};

struct ExtentChain {
    std::vector<DWORD> numbers;                  // ascending, each once
    std::vector<ExtentRange> missing;            // between the first and the last
    std::vector<BadExtentFile> bad;              // in name order
    std::vector<DisagreeingCopies> disagreeing;  // in number order
    std::vector<std::string> others;             // names that are no extents here
};

// Lists dir (as listLogDirectory does: no log control file) and checks the
// extents in it. Copies of one extent agree when each is identical to the
// longest or its start (a capture taken while the server filled it). Only
// the files of an extent with several copies are read. With suffixes given
// (those the archive records of dir use), only names with one of them are
// extents, and a folder never is; the rest go to others. 0, or the errno of
// the listing.
int checkExtentChain(const char *dir, ExtentNames names, ExtentChain *chain,
                     const std::set<std::string> *suffixes = nullptr);

// The numbers from lo to hi, both included, that `numbers` (ascending) lacks.
std::vector<ExtentRange> rangesNotIn(DWORD lo, DWORD hi, const std::vector<DWORD> &numbers);

// The numbers of `have` that `lacking` does not hold.
std::vector<ExtentRange> extentsNotIn(const ExtentChain &have, const ExtentChain &lacking);

// How many extent numbers the ranges cover.
uint64_t countExtents(const std::vector<ExtentRange> &ranges);

// The ranges by name, for a line or a message: "S0000002.TXN",
// "S0000005.TXN to S0000007.TXN", joined with ", "; past the first `limit`
// ranges only ", and N more" follows, N counting the extents left out.
std::string describeExtentRanges(const std::vector<ExtentRange> &ranges, size_t limit);

// An extent's own name: archivedName with no folder and no suffix.
std::string extentName(DWORD number);

}  // namespace nsfmend

#endif
