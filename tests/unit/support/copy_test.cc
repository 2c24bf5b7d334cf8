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
#include <vector>

#include "faultshim.h"
#include "common/temp_dir.h"
#include "support/durable.h"
#include "support/sha256.h"

namespace {

const int kCreateNew = 1;
const int kOverwrite = 0;

class FileCopy : public ::testing::Test {
protected:
    // Copies between names in the test's folder (a name from "/" as it is).
    int Copy(const std::string &from, const std::string &to, int mode) const {
        auto at = [&](const std::string &name) { return name[0] == '/' ? name : dir_ / name; };
        return CopyUnixFile(at(from).c_str(), at(to).c_str(), mode);
    }
    TempDir dir_;
};

}  // namespace

// What cannot be copied is refused, and nothing there changes: no source,
// no destination folder, a destination there already (even as a link to a
// file elsewhere) when a new one is asked for, a destination that is no
// regular file, and a source that is none (never opened to wait or to read
// without end).
TEST_F(FileCopy, RefusesWhatCannotBeCopiedAndChangesNothing) {
    WriteFile(dir_ / "src", std::string(3 << 20, 'x'));
    WriteFile(dir_ / "dst", "old");
    WriteFile(dir_ / "db.nsf", "precious");
    WriteFile(dir_ / "victim", "keep me");
    ASSERT_EQ(0, symlink((dir_ / "victim").c_str(), (dir_ / "planted").c_str()));
    ASSERT_EQ(0, symlink((dir_ / "db.nsf").c_str(), (dir_ / "alias.nsf").c_str()));
    ASSERT_EQ(0, mkfifo((dir_ / "fifo.nsf").c_str(), 0600));  // no writer: opening it would block
    ASSERT_EQ(0, mkdir((dir_ / "folder.nsf").c_str(), 0700));
    ASSERT_EQ(0, symlink("/dev/zero", (dir_ / "zero").c_str()));
    const std::set<std::string> before = FolderNames(dir_.path());
    const struct {
        const char *from, *to;
        int mode, error;
    } cases[] = {
        {"none", "a", kCreateNew, ENOENT},         {"none", "a", kOverwrite, ENOENT},
        {"src", "no/dst", kCreateNew, ENOENT},     {"src", "no/dst", kOverwrite, ENOENT},
        {"src", "dst", kCreateNew, EEXIST},        {"src", "planted", kCreateNew, EEXIST},
        {"src", "alias.nsf", kOverwrite, ELOOP},   {"src", "fifo.nsf", kOverwrite, EINVAL},
        {"src", "folder.nsf", kOverwrite, EISDIR}, {"src", "/dev/full", kOverwrite, EINVAL},
        {"fifo.nsf", "a", kCreateNew, EINVAL},     {"fifo.nsf", "a", kOverwrite, EINVAL},
        {"zero", "a", kCreateNew, EINVAL},         {"zero", "a", kOverwrite, EINVAL},
        {"folder.nsf", "a", kCreateNew, EISDIR},   {"folder.nsf", "a", kOverwrite, EISDIR},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.error, Copy(c.from, c.to, c.mode)) << c.from << " to " << c.to << ", mode " << c.mode;
    EXPECT_EQ(before, FolderNames(dir_.path()));
    EXPECT_EQ("old", ReadFile(dir_ / "dst"));
    EXPECT_EQ("precious", ReadFile(dir_ / "db.nsf"));
    EXPECT_EQ("keep me", ReadFile(dir_ / "victim"));
    // Only exactly 1 selects create-new mode.
    EXPECT_EQ(0, Copy("src", "dst", 2));
    EXPECT_EQ(std::string(3 << 20, 'x'), ReadFile(dir_ / "dst"));
}

TEST_F(FileCopy, UnreadableSourceLeavesNothingBehind) {
    chmod(dir_.path().c_str(), 0777);
    WriteFile(dir_ / "src", "secret");
    chmod((dir_ / "src").c_str(), 0);
    EXPECT_EQ(EACCES, AsUnprivileged([&] { return Copy("src", "dst", kCreateNew); }));
    EXPECT_EQ(std::set<std::string>{"src"}, FolderNames(dir_.path()));
}

TEST_F(FileCopy, OverwriteReplacesLongerContentCompletely) {
    WriteFile(dir_ / "src", "short");
    WriteFile(dir_ / "dst", std::string(100000, 'L'));
    EXPECT_EQ(0, Copy("src", "dst", kOverwrite));
    EXPECT_EQ("short", ReadFile(dir_ / "dst"));
    WriteFile(dir_ / "empty", "");
    EXPECT_EQ(0, Copy("empty", "dst", kOverwrite));
    EXPECT_EQ("", ReadFile(dir_ / "dst"));
    EXPECT_EQ(0, Copy("empty", "dst2", kCreateNew));
    EXPECT_TRUE(Exists(dir_ / "dst2"));
    EXPECT_EQ("", ReadFile(dir_ / "dst2"));
}

// Every byte value, the times, the mode with its set-user-ID and
// set-group-ID bits (giving a file its owner clears them, so the mode comes
// after the owner) and, where this user may give a file away, the owner.
TEST_F(FileCopy, ACopyTakesTheSourcesBytesTimesModeAndOwner) {
    std::string data;
    for (int round = 0; round < 5000; round++)
        for (int c = 0; c < 256; c++) data += (char)c;  // NUL, CR, LF, bytes above 127
    data += "\r\n\0\r";
    WriteFile(dir_ / "src", data);
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown((dir_ / "src").c_str(), 4321, 4322) == 0);
    ASSERT_EQ(0, chmod((dir_ / "src").c_str(), 06750));
    for (int mode : {kCreateNew, kOverwrite}) {
        // Reading the source may move its access time: set it each round.
        ASSERT_TRUE(SetTimes(dir_ / "src", 1000000000, 1100000000));
        const std::string dst = "dst" + std::to_string(mode);
        if (mode == kOverwrite) WriteFile(dir_ / dst, "previous content");
        ASSERT_EQ(0, Copy("src", dst, mode));
        const struct stat st = StatOf(dir_ / dst);
        EXPECT_EQ(1000000000, st.st_atime) << mode;
        EXPECT_EQ(1100000000, st.st_mtime) << mode;
        EXPECT_EQ(06750u, st.st_mode & 07777) << mode;
        EXPECT_EQ(root ? 4321u : geteuid(), st.st_uid) << mode;
        EXPECT_EQ(root ? 4322u : StatOf(dir_ / "src").st_gid, st.st_gid) << mode;
        EXPECT_EQ(data, ReadFile(dir_ / dst));
    }
}

TEST_F(FileCopy, OwnerThatCannotBeSetKeepsTheCopy) {
    chmod(dir_.path().c_str(), 0777);
    WriteFile(dir_ / "src", "extent data");
    chmod((dir_ / "src").c_str(), 0644);
    ASSERT_TRUE(SetTimes(dir_ / "src", 1000000000, 1100000000));
    // The source must belong to someone other than the copying user: as root
    // our own file (the copy runs as nobody), otherwise a root-owned one.
    std::string src = geteuid() == 0 ? dir_ / "src" : std::string("/etc/hostname");
    uid_t copier = geteuid() == 0 ? 65534 : geteuid();
    if (access(src.c_str(), R_OK) != 0 || StatOf(src).st_uid == copier) GTEST_SKIP();
    std::string want = ReadFile(src);
    for (int mode : {kCreateNew, kOverwrite}) {
        std::string dst = dir_ / ("dst" + std::to_string(mode));
        EXPECT_EQ(0, AsUnprivileged([&] { return CopyUnixFile(src.c_str(), dst.c_str(), mode); }))
            << mode;
        EXPECT_EQ(want, ReadFile(dst));
        EXPECT_NE(StatOf(src).st_uid, StatOf(dst).st_uid);
        EXPECT_EQ(StatOf(src).st_mode & 07777, StatOf(dst).st_mode & 07777);
    }
}

// A restore brings back the content only: the owner, group and mode stay
// those of the database it replaces, whatever the backup's were.
TEST_F(FileCopy, ARestoreKeepsTheReplacedFilesOwnerAndModeAndTakesTheSourcesTimes) {
    WriteFile(dir_ / "backup.nsf", "recovered");
    chmod((dir_ / "backup.nsf").c_str(), 0666);
    ASSERT_TRUE(SetTimes(dir_ / "backup.nsf", 1000000000, 1100000000));
    WriteFile(dir_ / "db.nsf", "live");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(0, chown((dir_ / "backup.nsf").c_str(), 65534, 65534));
        ASSERT_EQ(0, chown((dir_ / "db.nsf").c_str(), 4321, 4322));
    }
    chmod((dir_ / "db.nsf").c_str(), 06750);  // set-ID bits: set after the owner, as a copy must
    ASSERT_EQ(0, CopyUnixFile((dir_ / "backup.nsf").c_str(), (dir_ / "db.nsf").c_str(), kOverwrite,
                              nullptr, nsfmend::CopyAccess::kKeepDestination));
    EXPECT_EQ("recovered", ReadFile(dir_ / "db.nsf"));
    struct stat st = StatOf(dir_ / "db.nsf");
    EXPECT_EQ(06750u, st.st_mode & 07777);
    EXPECT_EQ(1100000000, st.st_mtime);
    if (root) {
        EXPECT_EQ(4321u, st.st_uid);
        EXPECT_EQ(4322u, st.st_gid);
    }
    EXPECT_EQ((std::set<std::string>{"backup.nsf", "db.nsf"}), FolderNames(dir_.path()));
}

// The copy is a new file: a user who may not give it the live file's owner
// would make the database its own, so the copy fails and the file stays.
TEST_F(FileCopy, ARestoreNeverHandsTheDatabaseToTheCopyingUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the database another owner";
    chmod(dir_.path().c_str(), 0777);
    WriteFile(dir_ / "backup.nsf", "recovered");
    chmod((dir_ / "backup.nsf").c_str(), 0644);
    // Another user's database that the copying user may write, in a folder
    // where it may replace it: only the owner cannot be kept.
    std::string db = dir_ / "db.nsf";
    WriteFile(db, "live");
    chmod(db.c_str(), 0666);
    ASSERT_EQ(0, chown(db.c_str(), 4321, 4322));
    EXPECT_EQ(EPERM, AsUnprivileged([&] { return nsfmend::ownerCanBeGiven(StatOf(db)); }));
    EXPECT_EQ(0, nsfmend::ownerCanBeGiven(StatOf(db)));
    EXPECT_EQ(EPERM, AsUnprivileged([&] {
                  return CopyUnixFile((dir_ / "backup.nsf").c_str(), db.c_str(), kOverwrite, nullptr,
                                      nsfmend::CopyAccess::kKeepDestination);
              }));
    EXPECT_EQ("live", ReadFile(db));
    EXPECT_EQ(4321u, StatOf(db).st_uid);
    EXPECT_EQ((std::set<std::string>{"backup.nsf", "db.nsf"}), FolderNames(dir_.path()));
    // Its own files the unprivileged user keeps as they are.
    ASSERT_EQ(0, chown(db.c_str(), 65534, 65534));
    EXPECT_EQ(0, AsUnprivileged([&] { return nsfmend::ownerCanBeGiven(StatOf(db)); }));
}

// With no live file the backup's mode stays, but not a write access for
// group or others that neither folder gave them over that name already.
TEST_F(FileCopy, ARestoreOfANewFileGainsNoWriteAccessItsFoldersDoNotGive) {
    const std::string from = dir_ / "from", to = dir_ / "to";
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

TEST_F(FileCopy, AFailureAtAnyStepLeavesTheDestinationWholeAndNoTemporaryFile) {
    std::string data(300000, 'n');
    data[1234] = 'x';
    WriteFile(dir_ / "src", data);
    for (int mode : {kOverwrite, kCreateNew}) {
        const std::string dst = dir_ / (mode == kOverwrite ? "db.nsf" : "S0000001.TXN");
        if (mode == kOverwrite) WriteFile(dst, "old database");
        for (const char *error : {"eio", "enospc"}) {
            long k = 1;
            for (;; ++k) {
                FaultArmed fault("", k, error);
                int rc = CopyUnixFile((dir_ / "src").c_str(), dst.c_str(), mode);
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
                std::set<std::string> names = FolderNames(dir_.path());
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

// Faults in the kernel's copy and in the plain reads and writes: without the
// kernel's copy the buffered one takes over, short writes and short kernel
// copies are carried on, and a read error is reported with the destination
// kept as it was.
TEST_F(FileCopy, FaultsOnTheWayAreCarriedOnOrReported) {
    std::string data;
    for (int i = 0; i < 5 << 20; i++) data += (char)(i * 7);
    WriteFile(dir_ / "src", data);
    struct Fault {
        const char *call;
        long at;
        const char *action;
    };
    const struct {
        std::vector<Fault> faults;
        int mode;
        long acted;
        int result;
    } cases[] = {
        {{{"copy_file_range", 1, "enosys"}}, kCreateNew, 1, 0},
        {{{"copy_file_range", 1, "exdev"}}, kCreateNew, 1, 0},
        {{{"copy_file_range", 1, "einval"}}, kCreateNew, 1, 0},
        {{{"copy_file_range", 1, "eperm"}}, kCreateNew, 1, 0},
        {{{"copy_file_range", 1, "short"}}, kCreateNew, 1, 0},
        {{{"copy_file_range", 1, "enosys"}, {"write", 1, "short"}, {"write", 3, "short"}}, kCreateNew, 3, 0},
        {{{"copy_file_range", 1, "enosys"}, {"read", 2, "eio"}}, kOverwrite, 2, EIO},
    };
    for (const auto &c : cases) {
        const std::string trace = std::string(c.faults.back().call) + " " + c.faults.back().action;
        unlink((dir_ / "dst").c_str());
        if (c.mode == kOverwrite) WriteFile(dir_ / "dst", "old");
        {
            FaultArmed first(c.faults[0].call, c.faults[0].at, c.faults[0].action);
            for (size_t i = 1; i < c.faults.size(); ++i)
                faultshim_add(c.faults[i].call, c.faults[i].at, c.faults[i].action);
            EXPECT_EQ(c.result, Copy("src", "dst", c.mode)) << trace;
            EXPECT_EQ(c.acted, faultshim_acted()) << trace;
        }
        EXPECT_TRUE(ReadFile(dir_ / "dst") == (c.result == 0 ? data : "old")) << trace;
        EXPECT_EQ((std::set<std::string>{"dst", "src"}), FolderNames(dir_.path())) << trace;
    }
}

TEST_F(FileCopy, ASparseFileEndingInAHoleKeepsItsSizeWithOrWithoutHoleSupport) {
    std::string src = dir_ / "sparse.nsf";
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
    ASSERT_EQ(0, LogFileCopy(src.c_str(), (dir_ / "a").c_str(), kCreateNew, &a));
    EXPECT_EQ(want, ReadFile(dir_ / "a"));
    {
        // A file system that knows no holes answers SEEK_DATA with EINVAL.
        FaultArmed noHoles("lseek,lseek64", 1, "einval");
        ASSERT_EQ(0, LogFileCopy(src.c_str(), (dir_ / "b").c_str(), kCreateNew, &b));
        EXPECT_EQ(1, faultshim_acted());
    }
    EXPECT_EQ(want, ReadFile(dir_ / "b"));
    EXPECT_EQ(nsfmend::sha256Hex(want), a.hexDigest());
    EXPECT_EQ(nsfmend::sha256Hex(want), b.hexDigest());
}

TEST_F(FileCopy, PathsOf1023CharactersAreCopiedAndLongerOnesRefused) {
    std::string folder = dir_.path();
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
    EXPECT_EQ(ENAMETOOLONG, CopyUnixFile((src + "x").c_str(), (dir_ / "a").c_str(), kCreateNew));
    EXPECT_EQ(ENAMETOOLONG, CopyUnixFile(src.c_str(), (dst + "x").c_str(), kOverwrite));
    EXPECT_EQ((std::set<std::string>{src.substr(folder.size() + 1), dst.substr(folder.size() + 1)}),
              FolderNames(folder));
}

TEST_F(FileCopy, SparseFileBeyondFourGiB) {
    std::string src = dir_ / "big.nsf";
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
        std::string dst = dir_ / ("copy" + std::to_string(mode));
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
