#include "support/sysfile.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "faultshim.h"
#include "common/temp_dir.h"

TEST(FileLayer, CreateIsExclusiveAndPrivate) {
    TempDir dir;
    std::string path = dir / "new.nsf";
    mode_t old = umask(0);
    int fd = -1;
    EXPECT_EQ(0, SysFileCreate(path.c_str(), &fd));
    umask(old);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, SysFileWrite(fd, "abc", 3));
    EXPECT_EQ(0, SysFileSeek(fd, 0));
    char buf[3];
    EXPECT_EQ(0, SysFileRead(fd, buf, 3));  // read-write descriptor
    EXPECT_EQ(0, SysFileClose(fd));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);

    int untouched = 12345;
    EXPECT_EQ(EEXIST, SysFileCreate(path.c_str(), &untouched));
    EXPECT_EQ(12345, untouched);
    EXPECT_EQ("abc", ReadFile(path));
}

TEST(FileLayer, OpenReadMissingLeavesDescriptorAlone) {
    TempDir dir;
    int fd = 777;
    EXPECT_EQ(ENOENT, SysFileOpenRead((dir / "missing").c_str(), &fd));
    EXPECT_EQ(777, fd);
}

TEST(FileLayer, ShortReadIsAFailureWithoutErrno) {
    TempDir dir;
    std::string path = dir / "data";
    WriteFile(path, std::string(20, 'x'));
    int fd = -1;
    ASSERT_EQ(0, SysFileOpenRead(path.c_str(), &fd));
    char buf[10];
    EXPECT_EQ(0, SysFileSeek(fd, 10));
    EXPECT_EQ(0, SysFileRead(fd, buf, 10));  // exactly 10 left
    EXPECT_EQ(0, SysFileSeek(fd, 16));
    EXPECT_EQ(-1, SysFileRead(fd, buf, 10));  // 4 left
    EXPECT_EQ(0, SysFileSeek(fd, 20));
    EXPECT_EQ(-1, SysFileRead(fd, buf, 10));  // at the end
    EXPECT_EQ(EBADF, SysFileWrite(fd, "x", 1));  // opened read-only
    EXPECT_EQ(0, SysFileClose(fd));
}

TEST(FileLayer, SeekBeyondTwoGiBInBothBuilds) {
    TempDir dir;
    int fd = -1;
    ASSERT_EQ(0, SysFileCreate((dir / "big").c_str(), &fd));
    const off_t far = (off_t)5 << 30;
    EXPECT_EQ(0, SysFileSeek(fd, far));
    EXPECT_EQ(0, SysFileWrite(fd, "z", 1));
    EXPECT_EQ(far + 1, lseek(fd, 0, SEEK_CUR));
    EXPECT_EQ(0, SysFileClose(fd));
}

TEST(FileLayer, SeekOnPipeAndCloseOfClosedDescriptor) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    EXPECT_EQ(ESPIPE, SysFileSeek(fds[0], 0));
    EXPECT_EQ(0, SysFileClose(fds[0]));
    EXPECT_EQ(0, SysFileClose(fds[1]));
    EXPECT_EQ(EBADF, SysFileClose(fds[1]));
}

TEST(FileLayer, WriteToFullDeviceGivesErrno) {
    int fd = open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ENOSPC, SysFileWrite(fd, "x", 1));
    close(fd);
}

TEST(FileLayer, DeleteFilesAndEmptyDirectories) {
    TempDir dir;
    EXPECT_EQ(ENOENT, SysFileDelete((dir / "missing").c_str()));
    WriteFile(dir / "f", "x");
    EXPECT_EQ(0, SysFileDelete((dir / "f").c_str()));
    EXPECT_FALSE(Exists(dir / "f"));
    ASSERT_EQ(0, mkdir((dir / "d").c_str(), 0700));
    WriteFile(dir / "d/inner", "x");
    EXPECT_EQ(ENOTEMPTY, SysFileDelete((dir / "d").c_str()));
}

TEST(FileLayer, CreateDirectoryRules) {
    TempDir dir;
    mode_t old = umask(0);
    EXPECT_EQ(0, SysFileCreateDirectory((dir / "logs").c_str()));
    umask(old);
    struct stat st;
    ASSERT_EQ(0, stat((dir / "logs").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    EXPECT_EQ(0, SysFileCreateDirectory((dir / "logs").c_str()));
    WriteFile(dir / "plain", "x");
    EXPECT_EQ(0, SysFileCreateDirectory((dir / "plain").c_str()));  // existing entry of any kind
    EXPECT_EQ(ENOENT, SysFileCreateDirectory((dir / "no/such").c_str()));
    std::string tooLong = dir.path() + "/" + std::string(1100, 'd');
    EXPECT_EQ(ENAMETOOLONG, SysFileCreateDirectory(tooLong.c_str()));
}

// A new folder and a removal only count once the parent folder is synced.
TEST(FileLayer, CreateAndDeleteSyncTheParentFolder) {
    TempDir dir;
    {
        FaultArmed syncFails("fsync", 1, "eio");
        EXPECT_EQ(EIO, SysFileCreateDirectory((dir / "logs").c_str()));
        EXPECT_EQ(1, faultshim_acted());
    }
    // Taken away again, so the next attempt makes and syncs it anew.
    EXPECT_FALSE(Exists(dir / "logs"));
    {
        FaultArmed counting("fsync", 0, "eio");
        EXPECT_EQ(0, SysFileCreateDirectory((dir / "logs/").c_str()));
        EXPECT_EQ(1, faultshim_count());
        EXPECT_EQ(0, SysFileCreateDirectory((dir / "logs").c_str()));
        EXPECT_EQ(1, faultshim_count());  // nothing new to sync
    }
    WriteFile(dir / "nlogctrl.lfh", "x");
    FaultArmed syncFails("fsync", 1, "eio");
    EXPECT_EQ(EIO, SysFileDelete((dir / "nlogctrl.lfh").c_str()));
}

TEST(FileLayer, OverlongPathIsRefusedNotCut) {
    TempDir dir;
    // Cut to 1023 bytes it would name the existing file "aaa...": refuse.
    std::string stem = dir.path();
    while (stem.size() < 1023 - 201) {
        stem += "/" + std::string(200, 'd');
        ASSERT_EQ(0, mkdir(stem.c_str(), 0700));
    }
    stem += "/";
    stem += std::string(1023 - stem.size(), 'a');
    WriteFile(stem, "x");
    std::string longer = stem + "b";
    int fd = -1;
    EXPECT_EQ(ENAMETOOLONG, SysFileOpenRead(longer.c_str(), &fd));
    EXPECT_EQ(ENAMETOOLONG, SysFileDelete(longer.c_str()));
    EXPECT_TRUE(Exists(stem));
}

TEST(PathTranslation, PrintableAsciiIsUnchanged) {
    std::string ascii;
    for (int c = 0x20; c < 0x7F; c++) ascii += (char)c;
    char lmbcs[1024] = {}, back[1024] = {};
    OSTranslateToLMBCS(ascii.c_str(), (WORD)ascii.size(), lmbcs, sizeof lmbcs);
    EXPECT_EQ(ascii, lmbcs);
    OSTranslateFromLMBCS(lmbcs, (WORD)strlen(lmbcs), back, sizeof back);
    EXPECT_EQ(ascii, back);
}
