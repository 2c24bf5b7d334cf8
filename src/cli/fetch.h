// The plan of OPT=FETCH, which the fetch carries out and OPT=CHECK prints:
// what the archive holds, which extents a recovery to the cut-off needs and
// the copy each comes from, what the log directory holds already, whether
// the server runs, room, the run lock.
#ifndef NSFMEND_CLI_FETCH_H
#define NSFMEND_CLI_FETCH_H

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/findings.h"
#include "storage/storage.h"
#include "translog/fetch_plan.h"

namespace nsfmend {

enum class Action {
    kFetch,  // not in the log directory: fetched
    kThere,  // there already with a recorded copy's bytes: left as it is
    kKept,   // there, longer than the archive's copy and starting with it: kept
};

struct FetchItem {
    FetchExtent extent;
    std::string target;  // its path in the log directory
    Action action = Action::kFetch;
    FetchCopy line;      // for kThere and kKept: the line it matches
};

struct FetchPlan {
    Findings findings;
    std::unique_ptr<Storage> archive;
    std::string logDir;
    struct stat logDirStat = {};
    std::vector<FetchItem> items;
    uint64_t bytes = 0;  // to be fetched

    bool holds() const { return findings.holds(); }
};

// The plan; checking (OPT=CHECK) only looks whether the run lock is held,
// the run holds it already.
FetchPlan buildFetchPlan(const RunSettings &settings, bool checking);

}  // namespace nsfmend

#endif
