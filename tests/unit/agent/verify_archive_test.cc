// The agent's check of an archive folder: an unbroken chain, copies that
// agree, every extent the server holds; one text for the first fault found.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "agent/include/nsfmend/agent.h"
#include "common/captured_stdout.h"
#include "common/temp_dir.h"
#include "message_buffer.h"

namespace {

class VerifyArchive : public ::testing::Test {
protected:
    void SetUp() override {
        backup_ = dir_ / "backup";
        logs_ = dir_ / "logs";
        ASSERT_TRUE(MakeDir(backup_));
        ASSERT_TRUE(MakeDir(logs_));
    }
    // Extent files named S%07u.TXN + suffix in folder, each holding text.
    static void Extents(const std::string &folder, std::initializer_list<int> numbers,
                        const std::string &suffix = "", const std::string &text = "records") {
        for (int n : numbers) {
            char name[32];
            snprintf(name, sizeof name, "S%07d.TXN", n);
            ASSERT_TRUE(WriteFile(folder + "/" + name + suffix, text));
        }
    }
    std::string Verify(const char *logDir = nullptr) {
        MessageBuffer msg;
        CapturedStdout out;
        verifyNsfArchiveLogs(backup_.c_str(), logDir, msg.get());
        EXPECT_EQ("", out.text());  // an agent's operation prints nothing
        return msg.text();
    }
    TempDir dir_;
    std::string backup_, logs_;
};

TEST_F(VerifyArchive, AnUnbrokenChainUnderSeveralSuffixesIsSuccess) {
    Extents(backup_, {1, 2, 3}, "-full");
    Extents(backup_, {3, 4}, "-incr");
    // An earlier capture of extent 4 while the server filled it.
    ASSERT_TRUE(WriteFile(backup_ + "/S0000004.TXN-early", "rec"));
    ASSERT_TRUE(WriteFile(backup_ + "/notes.txt", "not an extent"));
    EXPECT_EQ("QMR_NSF_SUCCESS", Verify());
    EXPECT_EQ("QMR_NSF_SUCCESS", Verify(""));
}

TEST_F(VerifyArchive, AGapNamesTheFirstMissingExtentAndEveryOtherOne) {
    Extents(backup_, {1, 2, 4, 7});
    EXPECT_EQ("Missing extent S0000003.TXN in " + backup_ +
                  " (missing: S0000003.TXN, S0000005.TXN to S0000006.TXN)",
              Verify());
}

TEST_F(VerifyArchive, ALongRunOfGapsIsCountedPastTwentyAndFitsTheBuffer) {
    for (int n = 1; n <= 101; n += 2) Extents(backup_, {n});
    const std::string text = Verify();
    EXPECT_EQ(0u, text.find("Missing extent S0000002.TXN in "));
    // 50 gaps: twenty named, thirty counted.
    EXPECT_NE(std::string::npos, text.find("S0000040.TXN, and 30 more)"));
    EXPECT_LT(text.size(), 4096u);
}

TEST_F(VerifyArchive, CopiesThatDisagreeAreNamed) {
    Extents(backup_, {1, 3});
    ASSERT_TRUE(WriteFile(backup_ + "/S0000002.TXN-a", "records 2, first try"));
    ASSERT_TRUE(WriteFile(backup_ + "/S0000002.TXN-b", "records 2, as archived"));
    EXPECT_EQ("Copies of extent S0000002.TXN disagree: S0000002.TXN-b and S0000002.TXN-a",
              Verify());
}

// A FIFO, a socket or a device where an extent or a record should be is
// said to be no regular file, whatever opening it would have failed with.
TEST_F(VerifyArchive, ANameThatIsNoRegularFileIsSaidSo) {
    const std::string record = "nsfmend-archive-20131115T120000Z.sha256";
    const struct {
        std::string name, text;
    } kPlaces[] = {{"S0000002.TXN", "Cannot read archived extent "},
                   {record, "Cannot read archive record "}};
    for (const mode_t kind : {S_IFIFO, S_IFSOCK, S_IFCHR}) {
        for (const auto &place : kPlaces) {
            RemoveTree(backup_);
            ASSERT_TRUE(MakeDir(backup_));
            Extents(backup_, {1, 3});
            if (place.name == record) Extents(backup_, {2});
            const std::string path = backup_ + "/" + place.name;
            // A device no driver answers: opening it would fail with ENXIO.
            if (mknod(path.c_str(), kind | 0600, kind == S_IFCHR ? makedev(240, 0) : 0) != 0) {
                ASSERT_EQ(S_IFCHR, kind) << strerror(errno);  // only a device needs a privilege
                continue;
            }
            EXPECT_EQ(place.text + path + ", Reason=Not a regular file", Verify()) << kind;
        }
    }
}

TEST_F(VerifyArchive, AFileThatCannotBeReadComesFirst) {
    Extents(backup_, {1, 3});
    ASSERT_EQ(0, symlink("gone", (backup_ + "/S0000002.TXN").c_str()));
    EXPECT_EQ("Cannot read archived extent " + backup_ + "/S0000002.TXN, Reason=" + strerror(ENOENT),
              Verify());
}

TEST_F(VerifyArchive, ExtentsTheServerHoldsThatTheArchiveLacks) {
    Extents(backup_, {3, 4, 5}, "-full");
    Extents(logs_, {1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(WriteFile(logs_ + "/nlogctrl.lfh", "control"));
    // A suffixed name in the log directory is no extent the server holds.
    ASSERT_TRUE(WriteFile(logs_ + "/S0000009.TXN-old", "x"));
    EXPECT_EQ("Extents of the log directory " + logs_ + " missing from " + backup_ +
                  ": S0000001.TXN to S0000002.TXN, S0000006.TXN to S0000007.TXN",
              Verify(logs_.c_str()));
    Extents(backup_, {1, 2, 6, 7}, "-incr");
    EXPECT_EQ("QMR_NSF_SUCCESS", Verify(logs_.c_str()));
    // Not asked: the archive alone counts.
    Extents(logs_, {8});
    EXPECT_EQ("QMR_NSF_SUCCESS", Verify());
}

TEST_F(VerifyArchive, FoldersThatHoldNothingOrCannotBeListed) {
    EXPECT_EQ("No archived extents in " + backup_, Verify());
    Extents(backup_, {1});
    const std::string missing = dir_ / "missing";
    EXPECT_EQ("Fail to list directory " + missing + ", Reason=" + strerror(ENOENT),
              Verify(missing.c_str()));
    backup_ = missing;
    EXPECT_EQ("Fail to list directory " + missing + ", Reason=" + strerror(ENOENT), Verify());
}

TEST_F(VerifyArchive, ArgumentsThatNameNoFolderAreRefused) {
    MessageBuffer msg;
    verifyNsfArchiveLogs(nullptr, nullptr, msg.get());
    EXPECT_EQ("Invalid backup directory: empty", msg.text());
    verifyNsfArchiveLogs("", logs_.c_str(), msg.get());
    EXPECT_EQ("Invalid backup directory: empty", msg.text());
    const std::string longPath = "/" + std::string(1023, 'd');
    verifyNsfArchiveLogs(longPath.c_str(), nullptr, msg.get());
    EXPECT_EQ("Path too long (over 1023 characters): " + longPath, msg.text());
    verifyNsfArchiveLogs(backup_.c_str(), longPath.c_str(), msg.get());
    EXPECT_EQ("Path too long (over 1023 characters): " + longPath, msg.text());
    verifyNsfArchiveLogs(backup_.c_str(), nullptr, nullptr);  // no buffer: nothing to write
}

}  // namespace
