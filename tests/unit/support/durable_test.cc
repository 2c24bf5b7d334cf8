// The durable-write layer: temporary names, the placing of a finished file,
// leftovers of interrupted runs, and replacing a file whole.
#include "support/durable.h"

#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <utility>

#include "faultshim.h"
#include "common/temp_dir.h"

using namespace nsfmend;  // the layer under test

namespace {

struct stat LstatOf(const std::string &path) {
    struct stat st = {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st;
}

int OpenDir(const std::string &dir) { return open(dir.c_str(), O_RDONLY | O_DIRECTORY); }

}  // namespace

TEST(TemporaryName, HiddenNeverAnExtentOrADatabaseAndWithinOneName) {
    for (const std::string final : {"S0000001.TXN", "S0000001.TXN-full", "mail.nsf", "a.box"}) {
        std::string name = hiddenSiblingName(final, "nsfmend-0123abcd");
        EXPECT_EQ('.', name[0]);
        EXPECT_NE(0, fnmatch("S*.TXN*", name.c_str(), 0)) << name;
        EXPECT_NE(0, fnmatch("*.nsf", name.c_str(), FNM_CASEFOLD)) << name;
        EXPECT_NE(0, fnmatch("*.box", name.c_str(), FNM_CASEFOLD)) << name;
        EXPECT_TRUE(isTemporaryName(name, final)) << name;
        EXPECT_TRUE(isTemporaryName(name, ""));
    }
    std::string longest(255, 'n');
    EXPECT_EQ(255u, hiddenSiblingName(longest, "nsfmend-0123abcd").size());
    EXPECT_TRUE(isTemporaryName(hiddenSiblingName(longest, "nsfmend-0123abcd"), longest));
}

TEST(TemporaryName, OnlyTheLayersOwnNamesAreTakenForLeftovers) {
    EXPECT_FALSE(isTemporaryName(".mail.nsf.nsfmend-0123abcd", "other.nsf"));
    for (const char *name : {"mail.nsf.nsfmend-0123abcd", ".mail.nsf.nsfmend-0123abc",
                             ".mail.nsf.nsfmend-0123ABCD", ".mail.nsf.nsfmend-offline",
                             ".mail.nsf-nsfmend-0123abcd", ".nsfmend.lock", ".notesemu-server"})
        EXPECT_FALSE(isTemporaryName(name, "")) << name;
}

TEST(FolderSync, SyncsTheFolderThatHoldsTheName) {
    TempDir dir;
    EXPECT_EQ(0, syncFolderOf((dir / "some-file").c_str()));
    EXPECT_EQ(0, syncFolderOf((dir.path() + "/").c_str()));
    EXPECT_EQ(0, syncFolderOf("/at-the-root"));
    EXPECT_EQ(0, syncFolderOf("relative-name"));
    EXPECT_EQ(ENOENT, syncFolderOf("/no/such/folder/file"));
    EXPECT_EQ(ENOENT, syncFile("/no/such/file"));
    WriteFile(dir / "f", "x");
    EXPECT_EQ(0, syncFile((dir / "f").c_str()));
    // A FIFO is opened without waiting for a writer.
    ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
    EXPECT_EQ(0, syncFile((dir / "fifo").c_str()));
}

TEST(TempFile, AnUnplacedFileLeavesNothingBehind) {
    TempDir dir;
    {
        TempFile temp;
        ASSERT_EQ(0, temp.create((dir / "db.nsf").c_str()));
        ASSERT_EQ(0, temp.write("partial", 7));
        ASSERT_EQ(1u, FolderNames(dir.path()).size());
        EXPECT_TRUE(isTemporaryName(*FolderNames(dir.path()).begin(), "db.nsf"));
    }
    EXPECT_TRUE(FolderNames(dir.path()).empty());
}

TEST(TempFile, PlacedFileIsWholeWithItsModeAndTheTemporaryNameGone) {
    TempDir dir;
    WriteFile(dir / "db.nsf", "old content, longer than the new");
    struct stat like = LstatOf(dir / "db.nsf");
    like.st_mode = S_IFREG | 0640;
    TempFile temp;
    ASSERT_EQ(0, temp.create((dir / "db.nsf").c_str()));
    ASSERT_EQ(0, temp.write("new", 3));
    ASSERT_EQ(0, temp.giveAttributes(like, false));
    ASSERT_EQ(0, temp.place(Placing::kReplace));
    EXPECT_EQ("new", ReadFile(dir / "db.nsf"));
    EXPECT_EQ(0640u, LstatOf(dir / "db.nsf").st_mode & 07777);
    EXPECT_EQ(std::set<std::string>{"db.nsf"}, FolderNames(dir.path()));
}

// Until it has its attributes the copy is readable by its owner alone,
// whatever the umask: it may hold a database no one else may read.
TEST(TempFile, IsItsOwnersAloneWhileWrittenEvenUnderUmask000) {
    TempDir dir;
    const mode_t umaskBefore = umask(0);
    TempFile temp;
    const int rc = temp.create((dir / "db.nsf").c_str());
    umask(umaskBefore);
    ASSERT_EQ(0, rc);
    struct stat st;
    ASSERT_EQ(0, fstat(temp.fd(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ(geteuid(), st.st_uid);
}

TEST(TempFile, NoReplaceLeavesAnExistingNameAndRemovesTheCopy) {
    TempDir dir;
    WriteFile(dir / "S0000001.TXN", "archived earlier");
    {
        TempFile temp;
        ASSERT_EQ(0, temp.create((dir / "S0000001.TXN").c_str()));
        ASSERT_EQ(0, temp.write("other", 5));
        EXPECT_EQ(EEXIST, temp.place(Placing::kNoReplace));
    }
    EXPECT_EQ("archived earlier", ReadFile(dir / "S0000001.TXN"));
    EXPECT_EQ(std::set<std::string>{"S0000001.TXN"}, FolderNames(dir.path()));
}

TEST(TempFile, CreatingRemovesThatNamesLeftoversOnly) {
    TempDir dir;
    const std::string mine = hiddenSiblingName("db.nsf", "nsfmend-00000001");
    const std::string other = hiddenSiblingName("other.nsf", "nsfmend-00000002");
    WriteFile(dir / mine, "stopped run");
    WriteFile(dir / other, "stopped run");
    WriteFile(dir / ".db.nsf.nsfmend-offline", "a mark, not a leftover");
    TempFile temp;
    ASSERT_EQ(0, temp.create((dir / "db.nsf").c_str()));
    EXPECT_FALSE(Exists(dir / mine));
    EXPECT_TRUE(Exists(dir / other));
    EXPECT_TRUE(Exists(dir / ".db.nsf.nsfmend-offline"));
}

TEST(TempFile, ALeftoverThatCannotBeRemovedDoesNotStopTheWrite) {
    TempDir dir;
    const std::string leftover = hiddenSiblingName("S0000001.TXN", "nsfmend-00c0ffee");
    WriteFile(dir / leftover, "stopped run");
    {
        FaultArmed stuck("unlinkat", 1, "eperm");
        EXPECT_EQ(0, writeWholeFile((dir / "S0000001.TXN").c_str(), "extent", nullptr,
                                    Placing::kNoReplace));
        EXPECT_EQ(1, faultshim_acted());
    }
    EXPECT_EQ("extent", ReadFile(dir / "S0000001.TXN"));
    EXPECT_EQ((std::set<std::string>{leftover, "S0000001.TXN"}), FolderNames(dir.path()));
}

TEST(Leftovers, EveryTemporaryFileOfTheFolderGoesAndNothingElse) {
    TempDir dir;
    WriteFile(dir / hiddenSiblingName("S0000001.TXN", "nsfmend-0000abcd"), "x");
    WriteFile(dir / hiddenSiblingName("S0000002.TXN-x", "nsfmend-ffff0000"), "x");
    WriteFile(dir / "S0000001.TXN", "kept");
    WriteFile(dir / ".hidden", "kept");
    int fd = OpenDir(dir.path());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, removeLeftovers(fd, ""));
    close(fd);
    EXPECT_EQ((std::set<std::string>{".hidden", "S0000001.TXN"}), FolderNames(dir.path()));
}

// Without the kernel's no-replace rename (EINVAL, ENOSYS), and then without
// hard links either (EPERM): a free name is taken, a taken one never replaced.
TEST(RenameIntoPlace, NoReplaceHoldsOnEveryFallback) {
    const std::pair<const char *, const char *> fallbacks[] = {
        {"einval", nullptr}, {"enosys", nullptr}, {"einval", "eperm"}};
    for (const auto &[renameat2Fails, linkatFails] : fallbacks) {
        TempDir dir;
        WriteFile(dir / ".t1", "new");
        WriteFile(dir / ".t2", "new");
        WriteFile(dir / "taken", "old");
        int fd = OpenDir(dir.path());
        ASSERT_GE(fd, 0);
        for (const std::string to : {"free", "taken"}) {
            FaultArmed noRenameat2("renameat2", 1, renameat2Fails);
            if (linkatFails != nullptr) faultshim_add("linkat", 1, linkatFails);
            EXPECT_EQ(to == "free" ? 0 : EEXIST,
                      renameIntoPlace(fd, to == "free" ? ".t1" : ".t2", to.c_str(),
                                      Placing::kNoReplace))
                << renameat2Fails << " " << to;
            EXPECT_EQ(linkatFails != nullptr ? 2 : 1, faultshim_acted());
        }
        close(fd);
        EXPECT_EQ("new", ReadFile(dir / "free"));
        EXPECT_EQ("old", ReadFile(dir / "taken"));
        // The refused temporary file is its writer's to remove.
        EXPECT_EQ((std::set<std::string>{".t2", "free", "taken"}), FolderNames(dir.path()));
    }
}

TEST(ReadWholeFile, SpecialFilesAreRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
    std::string content = "stale";
    EXPECT_EQ(EINVAL, readWholeFile((dir / "fifo").c_str(), &content));
    EXPECT_EQ("", content);
    EXPECT_EQ(EISDIR, readWholeFile(dir.path().c_str(), &content));
    EXPECT_EQ(ENOENT, readWholeFile((dir / "none").c_str(), &content));
    WriteFile(dir / "f", std::string("a\0b", 3));
    EXPECT_EQ(0, readWholeFile((dir / "f").c_str(), &content));
    EXPECT_EQ(std::string("a\0b", 3), content);
}

TEST(ReplaceFileContent, NewInodeSameModeAndOwnerNothingElseInTheFolder) {
    TempDir dir;
    std::string ini = dir / "notes.ini";
    WriteFile(ini, "A=1\n");
    ASSERT_EQ(0, chmod(ini.c_str(), 0640));
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(ini.c_str(), 4321, 4322));
    }
    struct stat before = LstatOf(ini);
    ASSERT_EQ(0, replaceFileContent(ini.c_str(), "A=1\nB=2\n"));
    struct stat after = LstatOf(ini);
    EXPECT_EQ("A=1\nB=2\n", ReadFile(ini));
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file took the name; none was truncated
    EXPECT_EQ(0640u, after.st_mode & 07777);
    EXPECT_EQ(before.st_uid, after.st_uid);
    EXPECT_EQ(before.st_gid, after.st_gid);
    EXPECT_EQ(std::set<std::string>{"notes.ini"}, FolderNames(dir.path()));
}

TEST(ReplaceFileContent, ALinkStaysAndTheFileItNamesIsReplacedInItsOwnFolder) {
    TempDir dir;
    ASSERT_EQ(0, mkdir((dir / "etc").c_str(), 0755));
    ASSERT_EQ(0, mkdir((dir / "data").c_str(), 0755));
    WriteFile(dir / "etc/notes.ini", "A=1\n");
    ASSERT_EQ(0, symlink("../etc/notes.ini", (dir / "data/notes.ini").c_str()));
    ASSERT_EQ(0, replaceFileContent((dir / "data/notes.ini").c_str(), "A=2\n"));
    EXPECT_TRUE(S_ISLNK(LstatOf(dir / "data/notes.ini").st_mode));
    EXPECT_EQ("A=2\n", ReadFile(dir / "etc/notes.ini"));
    EXPECT_EQ(std::set<std::string>{"notes.ini"}, FolderNames(dir / "etc"));
    EXPECT_EQ(std::set<std::string>{"notes.ini"}, FolderNames(dir / "data"));

    ASSERT_EQ(0, symlink("gone.ini", (dir / "data/dangling.ini").c_str()));
    EXPECT_EQ(ENOENT, replaceFileContent((dir / "data/dangling.ini").c_str(), "x"));
    EXPECT_FALSE(Exists(dir / "data/gone.ini"));
}

TEST(ReplaceFileContent, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    TempDir dir;
    std::string ini = dir / "notes.ini";
    WriteFile(ini, "A=1\n");
    for (const char *step : {"write", "fsync", "renameat", "fchmod"}) {
        FaultArmed full(step, 1, "enospc");
        EXPECT_EQ(ENOSPC, replaceFileContent(ini.c_str(), "A=1\nB=2\n")) << step;
        EXPECT_EQ(1, faultshim_acted()) << step;
        EXPECT_EQ("A=1\n", ReadFile(ini)) << step;
        EXPECT_EQ(std::set<std::string>{"notes.ini"}, FolderNames(dir.path())) << step;
    }
}

TEST(CheckReplaceable, AnswersAsTheReplacementWouldAndChangesNothing) {
    TempDir dir;
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0777));
    ASSERT_TRUE(MakeDir(dir / "etc"));
    WriteFile(dir / "etc/notes.ini", "A=1\n");
    ASSERT_EQ(0, symlink("etc/notes.ini", (dir / "notes.ini").c_str()));
    ASSERT_EQ(0, symlink("gone.ini", (dir / "dangling.ini").c_str()));
    const struct stat before = LstatOf(dir / "etc/notes.ini");

    EXPECT_EQ(0, checkReplaceable((dir / "notes.ini").c_str()));
    EXPECT_EQ(ENOENT, checkReplaceable((dir / "dangling.ini").c_str()));
    EXPECT_EQ(ENOENT, checkReplaceable((dir / "missing.ini").c_str()));
    EXPECT_EQ(EISDIR, checkReplaceable((dir / "etc").c_str()));
    EXPECT_EQ(before.st_ino, LstatOf(dir / "etc/notes.ini").st_ino);
    EXPECT_EQ(before.st_mtime, LstatOf(dir / "etc/notes.ini").st_mtime);
    EXPECT_EQ((std::set<std::string>{"notes.ini"}), FolderNames(dir / "etc"));

    // A file this user may not write (in a folder all may write), and a
    // writable file in a folder where no temporary file can be made: the
    // question and the replacement agree, and either is left alone.
    WriteFile(dir / "readonly.ini", "A=1\n");
    ASSERT_EQ(0, chmod((dir / "readonly.ini").c_str(), 0444));
    const std::string readonly = dir / "readonly.ini";
    EXPECT_EQ(EACCES, AsUnprivileged([&] { return checkReplaceable(readonly.c_str()); }));
    EXPECT_EQ(EACCES, AsUnprivileged([&] { return replaceFileContent(readonly.c_str(), "B=2\n"); }));
    EXPECT_EQ("A=1\n", ReadFile(readonly));
    ASSERT_EQ(0, chmod((dir / "etc/notes.ini").c_str(), 0666));
    ASSERT_EQ(0, chmod((dir / "etc").c_str(), 0555));
    const std::string linked = dir / "notes.ini";
    EXPECT_EQ(EACCES, AsUnprivileged([&] { return checkReplaceable(linked.c_str()); }));
    EXPECT_EQ(EACCES, AsUnprivileged([&] { return replaceFileContent(linked.c_str(), "B=2\n"); }));
    EXPECT_EQ("A=1\n", ReadFile(dir / "etc/notes.ini"));
    ASSERT_EQ(0, chmod((dir / "etc").c_str(), 0755));
    EXPECT_EQ((std::set<std::string>{"dangling.ini", "etc", "notes.ini", "readonly.ini"}),
              FolderNames(dir.path()));
}

TEST(RemoveFile, RemovesAndTellsAMissingFile) {
    TempDir dir;
    WriteFile(dir / "nlogctrl.lfh", "x");
    EXPECT_EQ(0, removeFile((dir / "nlogctrl.lfh").c_str()));
    EXPECT_FALSE(Exists(dir / "nlogctrl.lfh"));
    EXPECT_EQ(ENOENT, removeFile((dir / "nlogctrl.lfh").c_str()));
}
