// The data-directory listing: which files are candidates, in which order,
// and how a tree that cannot be listed whole is refused.
#include "recovery/media_recovery.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/captured_stdout.h"
#include "common/emulated_server.h"
#include "support/text.h"
#include "common/temp_dir.h"

namespace {

struct Listing {
    int result = 0;
    std::vector<std::string> paths;
    std::string message;
};

Listing list(const std::string &directory, const std::string &top) {
    StringArray array;
    arrayInit(&array);
    char message[4096];
    memset(message, 0, sizeof(message));
    Listing out;
    out.result = listDatabases(directory.c_str(), &array, top.c_str(), message);
    const int size = getArraySize(&array);
    for (int i = 1; i <= size; ++i) out.paths.push_back(getArrayItem(&array, i));
    clearArrayContent(&array);
    out.message = message;
    return out;
}

Listing list(const std::string &directory) { return list(directory, directory); }

// The message of a listing that failed, or "listed" when it did not fail.
std::string refusal(const std::string &directory) {
    const Listing got = list(directory);
    return got.result == 0 ? got.message : "listed";
}

// Makes the entries under top: a name ending in "/" is a folder, the rest
// empty files.
void makeTree(const std::string &top, std::initializer_list<const char *> entries) {
    for (const std::string name : entries) {
        if (name.back() == '/') ASSERT_TRUE(MakeDir(top + "/" + name)) << name;
        else ASSERT_TRUE(Touch(top + "/" + name)) << name;
    }
}

std::string strerrorText(int error) { return strerror(error); }

TEST(FileSelect, LeavesOutOnlyDotEntriesAndExactLogNsf) {
    struct dirent entry;
    memset(&entry, 0, sizeof(entry));
    auto accepted = [&entry](const char *name) {
        snprintf(entry.d_name, sizeof(entry.d_name), "%s", name);
        return file_select2(&entry);
    };
    EXPECT_EQ(0, accepted("."));
    EXPECT_EQ(0, accepted(".."));
    EXPECT_EQ(0, accepted("log.nsf"));
    EXPECT_EQ(1, accepted("LOG.NSF"));
    EXPECT_EQ(1, accepted("log.nsf.bak"));
    EXPECT_EQ(1, accepted("..."));
    EXPECT_EQ(1, accepted(".nsf"));
}

TEST(ListDatabases, FindsDatabasesDepthFirstInByteOrderWhateverTheCase) {
    TempDir dir;
    const std::string top = dir / "data";
    makeTree(dir.path(), {"data/", "data/a.nsf", "data/A.NSF", "data/B.Box", "data/LOG.NSF",
                          "data/log.nsf", "data/.nsf", "data/a.nsf.bak", "data/notes.ini",
                          "data/readme", "data/names.NsF", "data/mail/", "data/mail/log.nsf",
                          "data/mail/z.nsf", "data/mail/sub.nsf/", "data/mail/sub.nsf/inner.box",
                          "data/mail/sub.nsf/plain", "data/x.nsf/"});

    Listing got = list(top);
    ASSERT_EQ(1, got.result) << got.message;
    EXPECT_EQ((std::vector<std::string>{top + "/.nsf", top + "/A.NSF", top + "/B.Box",
                                        top + "/LOG.NSF", top + "/a.nsf",
                                        top + "/mail/sub.nsf/inner.box", top + "/mail/z.nsf",
                                        top + "/names.NsF"}),
              got.paths);
    EXPECT_EQ("", got.message);
}

TEST(ListDatabases, EmptyTreeAndTrailingSlashes) {
    TempDir dir;
    Listing empty = list(dir.path());
    EXPECT_EQ(1, empty.result);
    EXPECT_TRUE(empty.paths.empty());

    ASSERT_TRUE(Touch(dir / "log.nsf"));
    EXPECT_TRUE(list(dir.path()).paths.empty());

    ASSERT_TRUE(Touch(dir / "one.nsf"));
    Listing slashed = list(dir.path() + "/");
    ASSERT_EQ(1, slashed.result);
    EXPECT_EQ(std::vector<std::string>{dir.path() + "/one.nsf"}, slashed.paths);
}

// Links to databases and folders are followed (the same folder twice off
// the path is no loop); special files are no databases whatever their name;
// a file over 4 GiB is listed in either build.
TEST(ListDatabases, FollowsLinksLeavesOutSpecialFilesAndListsFilesOverFourGibibytes) {
    TempDir dir;
    const std::string top = dir / "data";
    const std::string elsewhere = dir / "elsewhere";
    makeTree(dir.path(), {"data/", "elsewhere/", "elsewhere/far.nsf", "data/mail/", "data/mail/a.nsf"});
    ASSERT_EQ(0, symlink(elsewhere.c_str(), (top + "/linked").c_str()));
    ASSERT_EQ(0, symlink((elsewhere + "/far.nsf").c_str(), (top + "/alias.nsf").c_str()));
    ASSERT_EQ(0, symlink("mail", (top + "/mirror").c_str()));
    ASSERT_EQ(0, mkfifo((top + "/fifo.nsf").c_str(), 0600));
    ASSERT_EQ(0, symlink("/dev/zero", (top + "/zero.nsf").c_str()));
    ASSERT_EQ(0, symlink("/dev/null", (top + "/null.box").c_str()));
    int fd = open((top + "/big.nsf").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, (off_t)5 << 30));  // sparse: no disk space is used
    ASSERT_EQ(0, close(fd));

    Listing got = list(top);
    ASSERT_EQ(1, got.result) << got.message;
    EXPECT_EQ((std::vector<std::string>{top + "/alias.nsf", top + "/big.nsf", top + "/linked/far.nsf",
                                        top + "/mail/a.nsf", top + "/mirror/a.nsf"}),
              got.paths);
}

TEST(ListDatabases, DanglingLinkStopsTheListingNamingTheEntry) {
    TempDir dir;
    ASSERT_TRUE(Touch(dir / "a.nsf"));
    ASSERT_EQ(0, symlink((dir / "gone.nsf").c_str(), (dir / "dangling.nsf").c_str()));
    EXPECT_EQ("Fail to get stat from dangling.nsf, Reason=" + strerrorText(ENOENT) + "\n",
              refusal(dir.path()));
}

TEST(ListDatabases, UnreadableOrMissingDirectoryIsAListingFailure) {
    TempDir dir;
    EXPECT_EQ("Fail to list directory " + (dir / "nowhere") + ", Reason=" + strerrorText(ENOENT),
              refusal(dir / "nowhere"));

    makeTree(dir.path(), {"locked/", "locked/a.nsf"});
    ASSERT_EQ(0, chmod((dir / "locked").c_str(), 0));
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    // As a user the permissions hold for (root reads any folder).
    const std::string expected =
        "Fail to list directory " + (dir / "locked") + ", Reason=" + strerrorText(EACCES);
    EXPECT_EQ(0, AsUnprivileged([&] { return refusal(dir.path()) == expected ? 0 : 1; }))
        << "expected result 0 and: " << expected;
}

TEST(ListDatabases, SymbolicLinkLoopIsRefusedInsteadOfFollowedForever) {
    TempDir dir;
    makeTree(dir.path(), {"mail/", "mail/a.nsf"});
    ASSERT_EQ(0, symlink("..", (dir / "mail/up").c_str()));
    EXPECT_EQ("Fail to list directory " + (dir / "mail/up") + ", Reason=" + strerrorText(ELOOP),
              refusal(dir.path()));

    TempDir self;
    ASSERT_EQ(0, symlink(".", (self / "again").c_str()));
    EXPECT_EQ("Fail to list directory " + (self / "again") + ", Reason=" + strerrorText(ELOOP),
              refusal(self.path()));
}

TEST(ListDatabases, PathOf1023CharactersIsListedAndALongerOneRefused) {
    TempDir dir;
    // Nest folders until a file name can bring the path to exactly 1023.
    std::string folder = dir.path();
    const std::string segment(200, 'd');
    while (folder.size() + 1 + segment.size() + 1 + 10 < 1023) {
        folder += "/" + segment;
        ASSERT_TRUE(MakeDir(folder));
    }
    const size_t room = 1023 - folder.size() - 1;
    ASSERT_LE(room, 255u);
    const std::string fits = folder + "/" + std::string(room - 4, 'f') + ".nsf";
    ASSERT_EQ(1023u, fits.size());
    ASSERT_TRUE(Touch(fits));

    Listing got = list(dir.path());
    ASSERT_EQ(1, got.result) << got.message;
    EXPECT_EQ(std::vector<std::string>{fits}, got.paths);

    // One character more, on a file that is not even a database.
    ASSERT_TRUE(Touch(folder + "/" + std::string(room + 1, 'g')));
    EXPECT_EQ("Fail to list directory " + folder + ", Reason=" + strerrorText(ENAMETOOLONG),
              refusal(dir.path()));
}

TEST(ListDatabases, ManyFoldersAndFilesAreAllListed) {
    TempDir dir;
    int expected = 0;
    for (int d = 0; d < 20; ++d) {
        const std::string folder = dir / ("f" + std::to_string(100 + d));
        ASSERT_TRUE(MakeDir(folder));
        for (int f = 0; f < 50; ++f) {
            ASSERT_TRUE(Touch(folder + "/db" + std::to_string(1000 + f) + (f % 2 ? ".nsf" : ".txt")));
            expected += f % 2;
        }
    }
    Listing got = list(dir.path());
    ASSERT_EQ(1, got.result);
    ASSERT_EQ((size_t)expected, got.paths.size());
    EXPECT_EQ(dir / "f100/db1001.nsf", got.paths.front());
    EXPECT_EQ(dir / "f119/db1049.nsf", got.paths.back());
}

// A listing that fails prints its message and recovers nothing; a tree
// without databases prints nothing at all.
TEST(RestoreAllDatabases, PrintsOnlyAListingFailure) {
    TempDir broken, none;
    ASSERT_EQ(0, symlink("nowhere", (broken / "broken").c_str()));
    makeTree(none.path(), {"log.nsf", "empty.nsf/"});
    const struct {
        const TempDir &dir;
        const char *action;
        int args, result;
        std::string printed;
    } cases[] = {
        {broken, "RECOVER", 0, 0, "Fail to get stat from broken, Reason=" + strerrorText(ENOENT) + "\n\n"},
        {none, "NOTE", 1, 1, ""},
    };
    for (const auto &c : cases) {
        CapturedStdout out;
        const char *top = c.dir.path().c_str();
        const int result = restoreAllDatabases(c.action, top, top, "", c.args, c.args);
        out.restore();
        EXPECT_EQ(c.result, result) << c.action;
        EXPECT_EQ(c.printed, out.text()) << c.action;
    }
}

// The question whether a database is logged, asked without a line (the
// preflight's) and with one (the sweep's): the same answer and the same words.
class LoggedQueryOnServer : public EmulatedServer {};

TEST_F(LoggedQueryOnServer, TheQueryAndTheSweepsLineAgree) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    ASSERT_EQ(0, Emu({"create", "logged.nsf"}));
    ASSERT_EQ(0, Emu({"create", "plain.nsf", "--unlogged"}));
    const std::string logged = dataDir_ + "/logged.nsf";
    const std::string plain = dataDir_ + "/plain.nsf";
    const std::string missing = dataDir_ + "/missing.nsf";

    CapturedStdout out;
    const nsfmend::LoggedQuery yes = nsfmend::queryLogged(logged.c_str());
    const nsfmend::LoggedQuery no = nsfmend::queryLogged(plain.c_str());
    const nsfmend::LoggedQuery gone = nsfmend::queryLogged(missing.c_str());
    EXPECT_EQ("", out.text());  // the query itself prints nothing
    EXPECT_TRUE(yes.failedStep == nullptr && yes.logged);
    EXPECT_TRUE(no.failedStep == nullptr && !no.logged);
    ASSERT_NE(nullptr, gone.failedStep);
    char reason[4096] = {};
    get_api_error_message(gone.status, reason);
    EXPECT_EQ("Fail to open database " + missing + ", Reason=" + reason,
              nsfmend::describeLoggedFailure(missing.c_str(), gone));

    EXPECT_EQ(1, isLoggedDatabase(logged.c_str()));
    EXPECT_EQ(0, isLoggedDatabase(plain.c_str()));
    EXPECT_EQ(-1, isLoggedDatabase(missing.c_str()));
    out.restore();
    EXPECT_EQ(" Fail to open database " + missing + ", Reason=" + reason + "\n", out.text());
}

TEST_F(LoggedQueryOnServer, AFailedLogInfoOrCloseIsNamedByItsStep) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    ASSERT_EQ(0, Emu({"create", "logged.nsf"}));
    const std::string logged = dataDir_ + "/logged.nsf";
    char reason[4096] = {};
    get_api_error_message(0x0108, reason);

    setenv("NOTESEMU_FAIL", "NSFDbGetLogInfo=0x0108", 1);
    nsfmend::LoggedQuery query = nsfmend::queryLogged(logged.c_str());
    EXPECT_EQ("Fail to get log info from database " + logged + ", Reason=" + reason,
              nsfmend::describeLoggedFailure(logged.c_str(), query));
    setenv("NOTESEMU_FAIL", "NSFDbClose=0x0108", 1);
    query = nsfmend::queryLogged(logged.c_str());
    unsetenv("NOTESEMU_FAIL");
    EXPECT_EQ("Fail to close database " + logged + ", Reason=" + reason,
              nsfmend::describeLoggedFailure(logged.c_str(), query));
    EXPECT_FALSE(query.logged);
}

}  // namespace
