// Which processes hold files of a folder open: what a running server
// visibly does with its log directory (its extents and control file stay
// open while it runs). Asked from the kernel's table of processes, without
// opening anything of theirs: nothing is changed, and no process notices.
#ifndef NSFMEND_SUPPORT_OPEN_FILES_H
#define NSFMEND_SUPPORT_OPEN_FILES_H

#include <stddef.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace nsfmend {

struct Holder {
    pid_t pid;
    std::string command;  // its name, as the kernel gives it
};

// The processes other than this one with the folder itself or a file
// below it open, in order of their IDs. Processes whose open files this
// user may not see (another user's, unless this one is root) cannot be
// looked at: *unseen counts them, since any of them may be the holder.
// 0, or the errno of reading the table of processes.
int processesHolding(const std::string &folder, std::vector<Holder> *holders, size_t *unseen);

}  // namespace nsfmend

#endif
