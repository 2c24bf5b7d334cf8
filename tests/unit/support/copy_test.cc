#include "support/copy.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "temp_dir.h"

namespace {

const int kCreateNew = 1;
const int kOverwrite = 0;

void SetTimes(const std::string &path, time_t atime, time_t mtime) {
    struct timeval tv[2] = {{atime, 0}, {mtime, 0}};
    ASSERT_EQ(0, utimes(path.c_str(), tv));
}

struct stat StatOf(const std::string &path) {
    struct stat st = {};
    EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
    return st;
}

// Runs fn as an unprivileged user (in a child when we are root, where the
// permission faults below would not happen) and returns its result.
int AsUnprivileged(const std::function<int()> &fn) {
    if (geteuid() != 0) return fn();
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(250);
        _exit(fn() & 0xFF);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 251;
}

}  // namespace

TEST(FileCopy, MissingSourceCreatesNothingInEitherMode) {
    TempDir dir;
    EXPECT_EQ(ENOENT, CopyUnixFile((dir / "none").c_str(), (dir / "a").c_str(), kCreateNew));
    EXPECT_EQ(ENOENT, CopyUnixFile((dir / "none").c_str(), (dir / "b").c_str(), kOverwrite));
    EXPECT_FALSE(Exists(dir / "a"));
    EXPECT_FALSE(Exists(dir / "b"));
}

TEST(FileCopy, CreateNewRefusesExistingDestination) {
    TempDir dir;
    WriteFile(dir / "src", "new content");
    WriteFile(dir / "dst", "old");
    EXPECT_EQ(EEXIST, CopyUnixFile((dir / "src").c_str(), (dir / "dst").c_str(), kCreateNew));
    EXPECT_EQ("old", ReadFile(dir / "dst"));
    // Only exactly 1 selects create-new mode.
    EXPECT_EQ(0, CopyUnixFile((dir / "src").c_str(), (dir / "dst").c_str(), 2));
    EXPECT_EQ("new content", ReadFile(dir / "dst"));
}

TEST(FileCopy, UnreadableSourceLeavesNothingBehind) {
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    WriteFile(dir / "src", "secret");
    chmod((dir / "src").c_str(), 0);
    EXPECT_EQ(EACCES, AsUnprivileged([&] {
                  return CopyUnixFile((dir / "src").c_str(), (dir / "dst").c_str(), kCreateNew);
              }));
    EXPECT_FALSE(Exists(dir / "dst"));
}

TEST(FileCopy, MissingDestinationDirectory) {
    TempDir dir;
    WriteFile(dir / "src", "x");
    EXPECT_EQ(ENOENT, CopyUnixFile((dir / "src").c_str(), (dir / "no/dst").c_str(), kCreateNew));
    EXPECT_EQ(ENOENT, CopyUnixFile((dir / "src").c_str(), (dir / "no/dst").c_str(), kOverwrite));
}

TEST(FileCopy, OverwriteReplacesLongerContentCompletely) {
    TempDir dir;
    WriteFile(dir / "src", "short");
    WriteFile(dir / "dst", std::string(100000, 'L'));
    EXPECT_EQ(0, CopyUnixFile((dir / "src").c_str(), (dir / "dst").c_str(), kOverwrite));
    EXPECT_EQ("short", ReadFile(dir / "dst"));
    WriteFile(dir / "empty", "");
    EXPECT_EQ(0, CopyUnixFile((dir / "empty").c_str(), (dir / "dst").c_str(), kOverwrite));
    EXPECT_EQ("", ReadFile(dir / "dst"));
    EXPECT_EQ(0, CopyUnixFile((dir / "empty").c_str(), (dir / "dst2").c_str(), kCreateNew));
    EXPECT_TRUE(Exists(dir / "dst2"));
    EXPECT_EQ("", ReadFile(dir / "dst2"));
}

TEST(FileCopy, EveryByteValueSurvives) {
    TempDir dir;
    std::string data;
    for (int round = 0; round < 5000; round++)
        for (int c = 0; c < 256; c++) data += (char)c;  // NUL, CR, LF, bytes above 127
    data += "\r\n\0\r";
    WriteFile(dir / "src", data);
    EXPECT_EQ(0, CopyUnixFile((dir / "src").c_str(), (dir / "a").c_str(), kCreateNew));
    EXPECT_EQ(0, CopyUnixFile((dir / "src").c_str(), (dir / "b").c_str(), kOverwrite));
    EXPECT_EQ(data, ReadFile(dir / "a"));
    EXPECT_EQ(data, ReadFile(dir / "b"));
}

TEST(FileCopy, CopyTakesSourceTimesAndMode) {
    TempDir dir;
    WriteFile(dir / "src", "payload");
    chmod((dir / "src").c_str(), 0640);
    for (int mode : {kCreateNew, kOverwrite}) {
        // Reading the source may move its access time: set it each round.
        SetTimes(dir / "src", 1000000000, 1100000000);
        std::string dst = dir / ("dst" + std::to_string(mode));
        WriteFile(dir / "dst0", "previous content");  // overwrite target exists
        unlink((dir / "dst1").c_str());
        ASSERT_EQ(0, CopyUnixFile((dir / "src").c_str(), dst.c_str(), mode));
        struct stat st = StatOf(dst);
        EXPECT_EQ(1000000000, st.st_atime) << mode;
        EXPECT_EQ(1100000000, st.st_mtime) << mode;
        EXPECT_EQ(0640u, st.st_mode & 07777) << mode;
        EXPECT_EQ("payload", ReadFile(dst));
    }
}

TEST(FileCopy, OwnerFollowsSourceWhenAllowed) {
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file away";
    TempDir dir;
    WriteFile(dir / "src", "owned");
    ASSERT_EQ(0, chown((dir / "src").c_str(), 4321, 4322));
    for (int mode : {kCreateNew, kOverwrite}) {
        std::string dst = dir / ("dst" + std::to_string(mode));
        ASSERT_EQ(0, CopyUnixFile((dir / "src").c_str(), dst.c_str(), mode));
        EXPECT_EQ(4321u, StatOf(dst).st_uid);
        EXPECT_EQ(4322u, StatOf(dst).st_gid);
    }
}

TEST(FileCopy, OwnerThatCannotBeSetKeepsTheCopy) {
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    WriteFile(dir / "src", "extent data");
    chmod((dir / "src").c_str(), 0644);
    SetTimes(dir / "src", 1000000000, 1100000000);
    // The source must belong to someone other than the copying user: as root
    // our own file (the copy runs as nobody), otherwise a root-owned one.
    std::string src = geteuid() == 0 ? dir / "src" : std::string("/etc/hostname");
    uid_t copier = geteuid() == 0 ? 65534 : geteuid();
    if (access(src.c_str(), R_OK) != 0 || StatOf(src).st_uid == copier) GTEST_SKIP();
    std::string want = ReadFile(src);
    for (int mode : {kCreateNew, kOverwrite}) {
        std::string dst = dir / ("dst" + std::to_string(mode));
        EXPECT_EQ(0, AsUnprivileged([&] { return CopyUnixFile(src.c_str(), dst.c_str(), mode); }))
            << mode;
        EXPECT_EQ(want, ReadFile(dst));
        EXPECT_NE(StatOf(src).st_uid, StatOf(dst).st_uid);
        EXPECT_EQ(StatOf(src).st_mode & 07777, StatOf(dst).st_mode & 07777);
    }
}

TEST(FileCopy, FullDeviceDestinationFails) {
    TempDir dir;
    WriteFile(dir / "src", std::string(3 << 20, 'x'));
    EXPECT_EQ(ENOSPC, CopyUnixFile((dir / "src").c_str(), "/dev/full", kOverwrite));
}

TEST(FileCopy, CopyOntoItselfKeepsTheData) {
    TempDir dir;
    WriteFile(dir / "db.nsf", "precious");
    ASSERT_EQ(0, symlink((dir / "db.nsf").c_str(), (dir / "alias.nsf").c_str()));
    EXPECT_EQ(EINVAL, CopyUnixFile((dir / "db.nsf").c_str(), (dir / "alias.nsf").c_str(), kOverwrite));
    EXPECT_EQ("precious", ReadFile(dir / "db.nsf"));
}

TEST(FileCopy, CreateNewDoesNotFollowPlantedLink) {
    TempDir dir;
    WriteFile(dir / "src", "log extent");
    WriteFile(dir / "victim", "keep me");
    ASSERT_EQ(0, symlink((dir / "victim").c_str(), (dir / "dst").c_str()));
    EXPECT_EQ(EEXIST, CopyUnixFile((dir / "src").c_str(), (dir / "dst").c_str(), kCreateNew));
    EXPECT_EQ("keep me", ReadFile(dir / "victim"));
}

TEST(FileCopy, ReadErrorMidCopyIsReportedAndCleanedUp) {
    TempDir dir;
    // A directory opens for reading but every read fails with EISDIR.
    ASSERT_EQ(0, mkdir((dir / "folder").c_str(), 0700));
    EXPECT_EQ(EISDIR, CopyUnixFile((dir / "folder").c_str(), (dir / "dst").c_str(), kCreateNew));
    EXPECT_FALSE(Exists(dir / "dst"));
}

TEST(FileCopy, SparseFileBeyondFourGiB) {
    TempDir dir;
    std::string src = dir / "big.nsf";
    int fd = open(src.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const off_t size = ((off_t)4 << 30) + 4097;
    ASSERT_EQ(0, ftruncate(fd, size));
    // Data at the start, just past 4 GiB, and in the last bytes.
    ASSERT_EQ(5, pwrite(fd, "start", 5, 0));
    ASSERT_EQ(6, pwrite(fd, "middle", 6, ((off_t)4 << 30) + 100));
    ASSERT_EQ(3, pwrite(fd, "end", 3, size - 3));
    close(fd);

    for (int mode : {kCreateNew, kOverwrite}) {
        std::string dst = dir / ("copy" + std::to_string(mode));
        ASSERT_EQ(0, CopyUnixFile(src.c_str(), dst.c_str(), mode));
        struct stat st = StatOf(dst);
        EXPECT_EQ(size, st.st_size);
        int in = open(dst.c_str(), O_RDONLY);
        ASSERT_GE(in, 0);
        char buf[8] = {};
        EXPECT_EQ(5, pread(in, buf, 5, 0));
        EXPECT_EQ(std::string("start"), std::string(buf, 5));
        EXPECT_EQ(8, pread(in, buf, 8, ((off_t)4 << 30) + 98));
        EXPECT_EQ(std::string("\0\0middle", 8), std::string(buf, 8));
        EXPECT_EQ(3, pread(in, buf, 3, size - 3));
        EXPECT_EQ(std::string("end"), std::string(buf, 3));
        EXPECT_EQ(4, pread(in, buf, 4, (off_t)3 << 30));
        EXPECT_EQ(std::string(4, '\0'), std::string(buf, 4));
        close(in);
        // The holes stayed holes: far less than the apparent size is allocated.
        EXPECT_LT((int64_t)st.st_blocks * 512, (int64_t)64 << 20);
    }
}
