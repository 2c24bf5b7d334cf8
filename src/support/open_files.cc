#include "support/open_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "support/raii.h"
#include "support/sysfile.h"
#include "support/text.h"

namespace nsfmend {
namespace {

const char kProcesses[] = "/proc";

// Whether path is the folder or below it.
bool within(const std::string &path, const std::string &folder) {
    if (path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || path[folder.size()] == '/' || folder == "/";
}

// Whether the process's descriptors hold anything within folder; *unseen
// when they are not this user's to look at.
bool holds(const std::string &process, const std::string &folder, bool *unseen) {
    const std::string fds = process + "/fd";
    UniqueDir dir(opendir(fds.c_str()));
    if (!dir) {
        *unseen = errno == EACCES || errno == EPERM;  // else gone meanwhile
        return false;
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): our own stream
    while (struct dirent *entry = readdir(dir.get())) {
        if (!allDigits(entry->d_name)) continue;
        char target[PATH_MAX];
        const ssize_t length =
            readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (length <= 0) continue;
        target[length] = '\0';
        if (within(target, folder)) return true;
    }
    return false;
}

std::string commandOf(const std::string &process) {
    UniqueFd fd(open((process + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
    char name[64] = {};
    if (!fd.valid() || read(fd.get(), name, sizeof name - 1) <= 0) return "";
    name[strcspn(name, "\n")] = '\0';
    return name;
}

}  // namespace

int processesHolding(const std::string &folder, std::vector<Holder> *holders, size_t *unseen) {
    holders->clear();
    *unseen = 0;
    // As the kernel names the files: the folder's real path.
    char real[PATH_MAX];
    const std::string resolved = realpath(folder.c_str(), real) != nullptr ? real : folder;
    UniqueDir table(opendir(kProcesses));
    if (!table) return lastError();
    const pid_t self = getpid();
    // NOLINTNEXTLINE(concurrency-mt-unsafe): our own stream
    while (struct dirent *entry = readdir(table.get())) {
        if (!allDigits(entry->d_name)) continue;
        const pid_t pid = (pid_t)atol(entry->d_name);
        if (pid == self) continue;
        const std::string process = std::string(kProcesses) + "/" + entry->d_name;
        bool hidden = false;
        if (holds(process, resolved, &hidden)) holders->push_back(Holder{pid, commandOf(process)});
        if (hidden) ++*unseen;
    }
    std::sort(holders->begin(), holders->end(),
              [](const Holder &a, const Holder &b) { return a.pid < b.pid; });
    return 0;
}

}  // namespace nsfmend
