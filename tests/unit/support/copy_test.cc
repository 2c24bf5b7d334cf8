#include "support/copy.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include "faultshim.h"
#include "common/temp_dir.h"
#include "support/durable.h"
#include "support/sha256.h"

namespace {

const int kCreateNew = 1;
const int kOverwrite = 0;

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
    EXPECT_EQ(std::set<std::string>{"src"}, FolderNames(dir.path()));
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
        ASSERT_TRUE(SetTimes(dir / "src", 1000000000, 1100000000));
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
    ASSERT_TRUE(SetTimes(dir / "src", 1000000000, 1100000000));
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

// A restore brings back the content only: the owner, group and mode stay
// those of the database it replaces, whatever the backup's were.
TEST(FileCopy, ARestoreKeepsTheReplacedFilesOwnerAndModeAndTakesTheSourcesTimes) {
    TempDir dir;
    WriteFile(dir / "backup.nsf", "recovered");
    chmod((dir / "backup.nsf").c_str(), 0666);
    ASSERT_TRUE(SetTimes(dir / "backup.nsf", 1000000000, 1100000000));
    WriteFile(dir / "db.nsf", "live");
    chmod((dir / "db.nsf").c_str(), 0600);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(0, chown((dir / "backup.nsf").c_str(), 65534, 65534));
        ASSERT_EQ(0, chown((dir / "db.nsf").c_str(), 4321, 4322));
    }
    ASSERT_EQ(0, CopyUnixFile((dir / "backup.nsf").c_str(), (dir / "db.nsf").c_str(), kOverwrite,
                              nullptr, nsfmend::CopyAccess::kKeepDestination));
    EXPECT_EQ("recovered", ReadFile(dir / "db.nsf"));
    struct stat st = StatOf(dir / "db.nsf");
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ(1100000000, st.st_mtime);
    if (root) {
        EXPECT_EQ(4321u, st.st_uid);
        EXPECT_EQ(4322u, st.st_gid);
    }
    EXPECT_EQ((std::set<std::string>{"backup.nsf", "db.nsf"}), FolderNames(dir.path()));
}

// The copy is a new file: a user who may not give it the live file's owner
// would make the database its own, so the copy fails and the file stays.
TEST(FileCopy, ARestoreNeverHandsTheDatabaseToTheCopyingUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the database another owner";
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    WriteFile(dir / "backup.nsf", "recovered");
    chmod((dir / "backup.nsf").c_str(), 0644);
    // Another user's database that the copying user may write, in a folder
    // where it may replace it: only the owner cannot be kept.
    std::string db = dir / "db.nsf";
    WriteFile(db, "live");
    chmod(db.c_str(), 0666);
    ASSERT_EQ(0, chown(db.c_str(), 4321, 4322));
    EXPECT_EQ(EPERM, AsUnprivileged([&] { return nsfmend::ownerCanBeGiven(StatOf(db)); }));
    EXPECT_EQ(0, nsfmend::ownerCanBeGiven(StatOf(db)));
    EXPECT_EQ(EPERM, AsUnprivileged([&] {
                  return CopyUnixFile((dir / "backup.nsf").c_str(), db.c_str(), kOverwrite, nullptr,
                                      nsfmend::CopyAccess::kKeepDestination);
              }));
    EXPECT_EQ("live", ReadFile(db));
    EXPECT_EQ(4321u, StatOf(db).st_uid);
    EXPECT_EQ((std::set<std::string>{"backup.nsf", "db.nsf"}), FolderNames(dir.path()));
    // Its own files the unprivileged user keeps as they are.
    ASSERT_EQ(0, chown(db.c_str(), 65534, 65534));
    EXPECT_EQ(0, AsUnprivileged([&] { return nsfmend::ownerCanBeGiven(StatOf(db)); }));
}

// With no live file the backup's mode stays, but not a write access for
// group or others that neither folder gave them over that name already.
TEST(FileCopy, ARestoreOfANewFileGainsNoWriteAccessItsFoldersDoNotGive) {
    TempDir dir;
    const std::string from = dir / "from", to = dir / "to";
    ASSERT_TRUE(MakeDir(from));
    ASSERT_TRUE(MakeDir(to));
    WriteFile(from + "/backup.nsf", "recovered");
    chmod((from + "/backup.nsf").c_str(), 06777);
    const gid_t group = StatOf(from + "/backup.nsf").st_gid;
    ASSERT_EQ(0, chown(to.c_str(), (uid_t)-1, group));
    struct Case {
        mode_t from, to, want;
    } cases[] = {
        {0755, 0755, 06755},   // nobody else writes either folder
        {0777, 0777, 06777},   // everybody could replace the file anyway
        {01777, 0777, 06755},  // a sticky folder lets others replace only their own files
        {0777, 0775, 06775},   // the file's group writes the destination folder
        {0775, 0777, 06775},
        {0770, 0755, 06755},
    };
    int n = 0;
    for (const Case &c : cases) {
        chmod(from.c_str(), c.from);
        chmod(to.c_str(), c.to);
        const std::string db = to + "/db" + std::to_string(n++) + ".nsf";
        ASSERT_EQ(0, CopyUnixFile((from + "/backup.nsf").c_str(), db.c_str(), kOverwrite, nullptr,
                                  nsfmend::CopyAccess::kKeepDestination));
        EXPECT_EQ(c.want, StatOf(db).st_mode & 07777)
            << std::oct << "folders " << c.from << " and " << c.to;
    }
}

// Giving a file its owner clears the set-user-ID and set-group-ID bits,
// so the mode, and they with it, comes after the owner.
TEST(FileCopy, SetIdBitsSurviveACopyAndARestore) {
    TempDir dir;
    WriteFile(dir / "src", "program");
    ASSERT_EQ(0, chmod((dir / "src").c_str(), 06755));
    for (int mode : {kCreateNew, kOverwrite}) {
        std::string dst = dir / ("dst" + std::to_string(mode));
        ASSERT_EQ(0, CopyUnixFile((dir / "src").c_str(), dst.c_str(), mode));
        EXPECT_EQ(06755u, StatOf(dst).st_mode & 07777) << mode;
    }
    WriteFile(dir / "db.nsf", "live");
    ASSERT_EQ(0, chmod((dir / "db.nsf").c_str(), 06750));
    ASSERT_EQ(0, CopyUnixFile((dir / "src").c_str(), (dir / "db.nsf").c_str(), kOverwrite, nullptr,
                              nsfmend::CopyAccess::kKeepDestination));
    EXPECT_EQ(06750u, StatOf(dir / "db.nsf").st_mode & 07777);
}

TEST(FileCopy, OnlyARegularFileIsReplacedNeverALinkFolderOrDevice) {
    TempDir dir;
    WriteFile(dir / "src", std::string(3 << 20, 'x'));
    WriteFile(dir / "db.nsf", "precious");
    ASSERT_EQ(0, symlink((dir / "db.nsf").c_str(), (dir / "alias.nsf").c_str()));
    ASSERT_EQ(0, mkfifo((dir / "fifo.nsf").c_str(), 0600));
    ASSERT_EQ(0, mkdir((dir / "folder.nsf").c_str(), 0700));
    EXPECT_EQ(ELOOP, CopyUnixFile((dir / "src").c_str(), (dir / "alias.nsf").c_str(), kOverwrite));
    EXPECT_EQ(EINVAL, CopyUnixFile((dir / "src").c_str(), (dir / "fifo.nsf").c_str(), kOverwrite));
    EXPECT_EQ(EISDIR, CopyUnixFile((dir / "src").c_str(), (dir / "folder.nsf").c_str(), kOverwrite));
    EXPECT_EQ(EINVAL, CopyUnixFile((dir / "src").c_str(), "/dev/full", kOverwrite));
    EXPECT_EQ("precious", ReadFile(dir / "db.nsf"));
    EXPECT_EQ((std::set<std::string>{"alias.nsf", "db.nsf", "fifo.nsf", "folder.nsf", "src"}),
              FolderNames(dir.path()));
}

TEST(FileCopy, CreateNewDoesNotFollowPlantedLink) {
    TempDir dir;
    WriteFile(dir / "src", "log extent");
    WriteFile(dir / "victim", "keep me");
    ASSERT_EQ(0, symlink((dir / "victim").c_str(), (dir / "dst").c_str()));
    EXPECT_EQ(EEXIST, CopyUnixFile((dir / "src").c_str(), (dir / "dst").c_str(), kCreateNew));
    EXPECT_EQ("keep me", ReadFile(dir / "victim"));
}

TEST(FileCopy, SpecialSourcesAreNeverOpenedToWaitOrReadWithoutEnd) {
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));  // no writer: opening it would block
    ASSERT_EQ(0, symlink("/dev/zero", (dir / "zero").c_str()));
    ASSERT_EQ(0, mkdir((dir / "folder").c_str(), 0700));
    for (int mode : {kCreateNew, kOverwrite}) {
        EXPECT_EQ(EINVAL, CopyUnixFile((dir / "fifo").c_str(), (dir / "a").c_str(), mode));
        EXPECT_EQ(EINVAL, CopyUnixFile((dir / "zero").c_str(), (dir / "a").c_str(), mode));
        EXPECT_EQ(EISDIR, CopyUnixFile((dir / "folder").c_str(), (dir / "a").c_str(), mode));
    }
    EXPECT_FALSE(Exists(dir / "a"));
}

// Fails the copy at each of its file-system calls in turn until it gets
// through: a failure leaves the destination as it was (or, failing the last
// folder sync, wholly new) with no temporary file, and a success is always
// the whole copy.
TEST(FileCopy, AFailureAtAnyStepLeavesTheDestinationWholeAndNoTemporaryFile) {
    TempDir dir;
    std::string data(300000, 'n');
    data[1234] = 'x';
    WriteFile(dir / "src", data);
    for (int mode : {kOverwrite, kCreateNew}) {
        const std::string dst = dir / (mode == kOverwrite ? "db.nsf" : "S0000001.TXN");
        if (mode == kOverwrite) WriteFile(dst, "old database");
        for (const char *error : {"eio", "enospc"}) {
            long k = 1;
            for (;; ++k) {
                FaultArmed fault("", k, error);
                int rc = CopyUnixFile((dir / "src").c_str(), dst.c_str(), mode);
                if (faultshim_count() < k) {
                    ASSERT_EQ(0, rc);
                    break;
                }
                // A success is a whole copy (only a failure that cannot harm
                // it, giving the owner away or closing the source, is let
                // pass); a failure leaves the destination as it was, or
                // wholly new when only the folder's sync after the rename
                // failed.
                const std::string before = mode == kOverwrite ? "old database" : "<none>";
                const std::string now = Exists(dst) ? ReadFile(dst) : "<none>";
                EXPECT_TRUE(now == data || (rc != 0 && now == before))
                    << k << ": result " << rc << ", destination " << now.substr(0, 20);
                std::set<std::string> names = FolderNames(dir.path());
                for (const char *known : {"src", "db.nsf", "S0000001.TXN"}) names.erase(known);
                EXPECT_TRUE(names.empty()) << k << ": " << (names.empty() ? "" : *names.begin());
                if (mode == kCreateNew) unlink(dst.c_str());
            }
            EXPECT_GT(k, 8) << "the copy makes more calls than that";
            EXPECT_EQ(data, ReadFile(dst));
            if (mode == kCreateNew) ASSERT_EQ(0, unlink(dst.c_str()));
            else WriteFile(dst, "old database");
        }
    }
}

TEST(FileCopy, WithoutTheKernelsCopyTheBufferedCopyTakesOver) {
    TempDir dir;
    std::string data;
    for (int i = 0; i < 3 << 20; i++) data += (char)(i * 7);
    WriteFile(dir / "src", data);
    for (const char *why : {"enosys", "exdev", "einval", "eperm"}) {
        FaultArmed noKernelCopy("copy_file_range", 1, why);
        std::string dst = dir / (std::string("dst-") + why);
        ASSERT_EQ(0, CopyUnixFile((dir / "src").c_str(), dst.c_str(), kCreateNew)) << why;
        EXPECT_EQ(1, faultshim_acted()) << why;
        EXPECT_EQ(data, ReadFile(dst)) << why;
    }
}

TEST(FileCopy, ShortWritesAndShortKernelCopiesAreCarriedOn) {
    TempDir dir;
    std::string data(5 << 20, 'q');
    data.back() = 'z';
    WriteFile(dir / "src", data);
    {
        FaultArmed shortKernelCopy("copy_file_range", 1, "short");
        ASSERT_EQ(0, CopyUnixFile((dir / "src").c_str(), (dir / "a").c_str(), kCreateNew));
        EXPECT_EQ(1, faultshim_acted());
    }
    {
        FaultArmed noKernelCopy("copy_file_range", 1, "enosys");
        faultshim_add("write", 1, "short");
        faultshim_add("write", 3, "short");
        ASSERT_EQ(0, CopyUnixFile((dir / "src").c_str(), (dir / "b").c_str(), kCreateNew));
        EXPECT_EQ(3, faultshim_acted());
    }
    EXPECT_EQ(data, ReadFile(dir / "a"));
    EXPECT_EQ(data, ReadFile(dir / "b"));
}

TEST(FileCopy, AReadErrorIsReportedAndTheDestinationKept) {
    TempDir dir;
    WriteFile(dir / "src", std::string(4 << 20, 'r'));
    WriteFile(dir / "db.nsf", "old");
    FaultArmed noKernelCopy("copy_file_range", 1, "enosys");
    faultshim_add("read", 2, "eio");
    EXPECT_EQ(EIO, CopyUnixFile((dir / "src").c_str(), (dir / "db.nsf").c_str(), kOverwrite));
    EXPECT_EQ("old", ReadFile(dir / "db.nsf"));
    EXPECT_EQ((std::set<std::string>{"db.nsf", "src"}), FolderNames(dir.path()));
}

TEST(FileCopy, ASparseFileEndingInAHoleKeepsItsSizeWithOrWithoutHoleSupport) {
    TempDir dir;
    std::string src = dir / "sparse.nsf";
    int fd = open(src.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(4, pwrite(fd, "head", 4, 0));
    ASSERT_EQ(4, pwrite(fd, "body", 4, 1 << 20));
    ASSERT_EQ(0, ftruncate(fd, 8 << 20));  // ends in a hole of 7 MiB
    close(fd);
    std::string want(8 << 20, '\0');
    want.replace(0, 4, "head");
    want.replace(1 << 20, 4, "body");

    // The digest taken on the way counts the holes' zeros.
    nsfmend::Sha256 a, b;
    ASSERT_EQ(0, LogFileCopy(src.c_str(), (dir / "a").c_str(), kCreateNew, &a));
    EXPECT_EQ(want, ReadFile(dir / "a"));
    {
        // A file system that knows no holes answers SEEK_DATA with EINVAL.
        FaultArmed noHoles("lseek,lseek64", 1, "einval");
        ASSERT_EQ(0, LogFileCopy(src.c_str(), (dir / "b").c_str(), kCreateNew, &b));
        EXPECT_EQ(1, faultshim_acted());
    }
    EXPECT_EQ(want, ReadFile(dir / "b"));
    EXPECT_EQ(nsfmend::sha256Hex(want), a.hexDigest());
    EXPECT_EQ(nsfmend::sha256Hex(want), b.hexDigest());
}

TEST(FileCopy, PathsOf1023CharactersAreCopiedAndLongerOnesRefused) {
    TempDir dir;
    std::string folder = dir.path();
    while (folder.size() + 201 + 1 + 20 < 1023) {
        folder += "/" + std::string(200, 'd');
        ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    }
    const std::string src = folder + "/" + std::string(1023 - folder.size() - 1, 's');
    const std::string dst = folder + "/" + std::string(1023 - folder.size() - 1, 't');
    ASSERT_EQ(1023u, src.size());
    WriteFile(src, "at the limit");
    EXPECT_EQ(0, CopyUnixFile(src.c_str(), dst.c_str(), kCreateNew));
    EXPECT_EQ("at the limit", ReadFile(dst));
    EXPECT_EQ(0, CopyUnixFile(src.c_str(), dst.c_str(), kOverwrite));
    EXPECT_EQ(ENAMETOOLONG, CopyUnixFile((src + "x").c_str(), (dir / "a").c_str(), kCreateNew));
    EXPECT_EQ(ENAMETOOLONG, CopyUnixFile(src.c_str(), (dst + "x").c_str(), kOverwrite));
    EXPECT_EQ((std::set<std::string>{src.substr(folder.size() + 1), dst.substr(folder.size() + 1)}),
              FolderNames(folder));
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
