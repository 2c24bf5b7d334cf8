// The run lock and the question whether a run holds it, which must never
// change anything: no lock file made, no lock kept.
#include "support/run_lock.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "common/temp_dir.h"

using namespace nsfmend;  // the layer under test

TEST(ProbeRunLock, NoLockFileIsAFreeLockAndNoneIsMade) {
    TempDir dir;
    EXPECT_EQ(0, probeRunLock(dir.path().c_str()));
    EXPECT_TRUE(FolderNames(dir.path()).empty());
}

TEST(ProbeRunLock, SeesAHeldLockAndLetsGoOfItsOwnAtOnce) {
    TempDir dir;
    {
        RunLock held;
        ASSERT_EQ(0, held.acquire(dir.path().c_str()));
        EXPECT_EQ(EWOULDBLOCK, probeRunLock(dir.path().c_str()));
    }
    EXPECT_EQ(0, probeRunLock(dir.path().c_str()));
    EXPECT_EQ(0, probeRunLock(dir.path().c_str()));
    // Nothing of the questions is kept: a run gets the lock.
    RunLock run;
    EXPECT_EQ(0, run.acquire(dir.path().c_str()));
}

TEST(ProbeRunLock, MeetsWhatARunWouldMeet) {
    TempDir dir;
    const std::string lock = dir / ".nsfmend.lock";
    ASSERT_EQ(0, symlink("elsewhere", lock.c_str()));
    RunLock run;
    EXPECT_EQ(ELOOP, probeRunLock(dir.path().c_str()));
    EXPECT_EQ(ELOOP, run.acquire(dir.path().c_str()));
    EXPECT_FALSE(Exists(dir / "elsewhere"));

    ASSERT_EQ(0, unlink(lock.c_str()));
    ASSERT_TRUE(MakeDir(lock));
    EXPECT_EQ(EISDIR, probeRunLock(dir.path().c_str()));
    EXPECT_EQ(EISDIR, run.acquire(dir.path().c_str()));

    ASSERT_EQ(0, rmdir(lock.c_str()));
    ASSERT_EQ(0, mkfifo(lock.c_str(), 0600));
    EXPECT_EQ(EINVAL, probeRunLock(dir.path().c_str()));
    EXPECT_EQ(EINVAL, run.acquire(dir.path().c_str()));

    EXPECT_EQ(ENOENT, probeRunLock(""));
    EXPECT_EQ(ENOENT, run.acquire(""));
    EXPECT_EQ(ENOENT, probeRunLock((dir / "missing").c_str()));
}

TEST(ProbeRunLock, AFolderWhereNoLockFileCanBeMadeIsNoFreeLock) {
    TempDir dir;
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0555));
    EXPECT_EQ(EACCES, AsUnprivileged([&] { return probeRunLock(dir.path().c_str()); }));
    EXPECT_EQ(EACCES, AsUnprivileged([&] {
                  RunLock run;
                  return run.acquire(dir.path().c_str());
              }));
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
}

// The lock file stands for the data directory: whatever the umask, no user
// may read it who may not read the directory, and the directory's owner
// (the server's user) may lock it after another user's run made it.
TEST(RunLock, TheLockFileIsReadableByNoMoreUsersThanItsFolder) {
    const mode_t umaskBefore = umask(0);
    for (mode_t folder : {0700, 0750, 0755, 0711}) {
        TempDir dir;
        ASSERT_EQ(0, chmod(dir.path().c_str(), folder));
        RunLock run;
        ASSERT_EQ(0, run.acquire(dir.path().c_str()));
        struct stat st;
        ASSERT_EQ(0, stat((dir / kRunLockName).c_str(), &st));
        EXPECT_EQ(0600u | (folder & 0044), st.st_mode & 07777) << std::oct << folder;
    }
    umask(umaskBefore);

    if (geteuid() != 0) return;  // giving it to the folder's owner needs root
    TempDir dir;
    ASSERT_EQ(0, chown(dir.path().c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0700));
    {
        RunLock run;
        ASSERT_EQ(0, run.acquire(dir.path().c_str()));
    }
    struct stat st;
    ASSERT_EQ(0, stat((dir / kRunLockName).c_str(), &st));
    EXPECT_EQ(65534u, st.st_uid);
    EXPECT_EQ(65534u, st.st_gid);
    EXPECT_EQ(0, AsUnprivileged([&] {
                  RunLock run;
                  return run.acquire(dir.path().c_str());
              }));
}
