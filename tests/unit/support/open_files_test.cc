// Which processes hold a folder's files open: the fetch's sign of a running
// server. A holder is named; what this user may not look at is counted,
// never taken for "nobody holds it".
#include "support/open_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/temp_dir.h"

using namespace nsfmend;  // the layer under test

namespace {

// A child that holds path open until it is killed.
pid_t HoldOpen(const std::string &path) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        (void)!write(ready[1], "x", 1);
        if (fd >= 0) pause();
        _exit(0);
    }
    char byte;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
    return pid;
}

std::vector<pid_t> Pids(const std::vector<Holder> &holders) {
    std::vector<pid_t> pids;
    for (const Holder &h : holders) pids.push_back(h.pid);
    return pids;
}

void Stop(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace

// A holder of the folder or of a file below it is named; one of a folder
// whose name only begins like it holds another folder.
TEST(ProcessesHolding, NamesAHolderOfTheFolderOrAFileBelowIt) {
    TempDir dir;
    WriteFile(dir / "S0000001.TXN", "extent");
    WriteFile(dir.path() + "-other", "x");
    for (const std::string &held : {dir.path(), dir / "S0000001.TXN", dir.path() + "-other"}) {
        SCOPED_TRACE(held);
        const pid_t pid = HoldOpen(held);
        ASSERT_GT(pid, 0);
        std::vector<Holder> holders;
        size_t unseen = 0;
        EXPECT_EQ(0, processesHolding(dir.path(), &holders, &unseen));
        Stop(pid);
        const bool below = held != dir.path() + "-other";
        EXPECT_EQ(below ? std::vector<pid_t>{pid} : std::vector<pid_t>{}, Pids(holders));
        EXPECT_EQ(0, processesHolding(dir.path(), &holders, &unseen));
        EXPECT_TRUE(holders.empty());
    }
    unlink((dir.path() + "-other").c_str());
}

// Another user's processes cannot be looked at: they are counted, so that
// no answer says nobody holds the folder when this user cannot know.
TEST(ProcessesHolding, CountsWhatThisUserMayNotLookAt) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to look as another user (65534)";
    TempDir dir;
    const pid_t rootsOwn = HoldOpen(dir.path());
    int answer[2];
    ASSERT_EQ(0, pipe(answer));
    const pid_t asker = fork();
    if (asker == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        std::vector<Holder> holders;
        size_t unseen = 0;
        const int error = processesHolding(dir.path(), &holders, &unseen);
        const int seen = error == 0 && holders.empty() && unseen > 0 ? 1 : 0;
        (void)!write(answer[1], &seen, sizeof seen);
        _exit(0);
    }
    int seen = -1;
    (void)!read(answer[0], &seen, sizeof seen);
    waitpid(asker, nullptr, 0);
    Stop(rootsOwn);
    close(answer[0]);
    close(answer[1]);
    EXPECT_EQ(1, seen) << "root's holder was neither seen nor counted as unseen";
}
