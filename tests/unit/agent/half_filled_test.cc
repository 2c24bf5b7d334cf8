// The half-filled capture: which files of the log folder are copied, which
// are skipped, and what a failure leaves in the message buffer.
#include "agent/half_filled.h"

#include <errno.h>
#include <string.h>

#include <string>

#include "agent/include/nsfmend/agent.h"
#include "agent_fixture.h"

namespace {

struct dirent entryNamed(const char *name) {
    struct dirent entry;
    memset(&entry, 0, sizeof entry);
    snprintf(entry.d_name, sizeof entry.d_name, "%s", name);
    return entry;
}

TEST(FileSelect, LeavesOutOnlyDotEntriesAndTheLogControlFile) {
    for (const char *name : {".", "..", "nlogctrl.lfh"}) {
        struct dirent e = entryNamed(name);
        EXPECT_EQ(0, file_select(&e)) << name;
    }
    for (const char *name : {"S0000001.TXN", "NLOGCTRL.LFH", "nlogctrl.lfh.old", ".x", "..."}) {
        struct dirent e = entryNamed(name);
        EXPECT_EQ(1, file_select(&e)) << name;
    }
}

class Capture : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        startServer();
        logs_ = path("logs");
        dest_ = path("backup") + "/";
        ASSERT_TRUE(makeDir(logs_));
        ASSERT_TRUE(makeDir(path("backup")));
    }
    std::string logs_, dest_;
};

TEST_F(Capture, CopiesWhatHasNoCopyAndSkipsTheRest) {
    ASSERT_TRUE(writeFile(logs_ + "/S0000001.TXN", "one"));
    ASSERT_TRUE(writeFile(logs_ + "/S0000002.TXN", std::string("two\0\r\n\xff", 8)));
    ASSERT_TRUE(writeFile(logs_ + "/nlogctrl.lfh", "control"));
    ASSERT_TRUE(writeFile(dest_ + "S0000001.TXN", "archived earlier"));
    MessageBuffer msg;

    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ("untouched", msg.text());
    EXPECT_EQ("archived earlier", readFile(dest_ + "S0000001.TXN"));
    EXPECT_EQ(std::string("two\0\r\n\xff", 8), readFile(dest_ + "S0000002.TXN"));
    EXPECT_FALSE(exists(dest_ + "nlogctrl.lfh"));
}

TEST_F(Capture, NamesCopiesWithTheSuffixAndSkipsAFolderOfThatName) {
    ASSERT_TRUE(writeFile(logs_ + "/S0000001.TXN", "one"));
    ASSERT_TRUE(writeFile(logs_ + "/S0000002.TXN", "two"));
    ASSERT_TRUE(makeDir(dest_ + "S0000001.TXN-x"));
    MessageBuffer msg;

    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "-x", msg.get()));
    EXPECT_EQ("two", readFile(dest_ + "S0000002.TXN-x"));
    EXPECT_FALSE(exists(dest_ + "S0000002.TXN"));
}

TEST_F(Capture, LogFolderWithOrWithoutSlashGivesTheSameSourcePaths) {
    ASSERT_TRUE(writeFile(logs_ + "/S0000001.TXN", "one"));
    const std::string missingDest = path("missing") + "/";
    for (const std::string &logDir : {logs_, logs_ + "/"}) {
        MessageBuffer msg;
        EXPECT_EQ(0, archiveHalfFilledLogs(logDir.c_str(), missingDest.c_str(), "", msg.get()));
        // A missing destination passes every existence test, so the copy runs and fails.
        EXPECT_EQ("Error copying file " + logs_ + "/S0000001.TXN to " + missingDest +
                      "S0000001.TXN. " + strerror(ENOENT),
                  msg.text());
    }
}

TEST_F(Capture, MissingLogFolderGivesTheSystemTextAlone) {
    MessageBuffer msg;
    EXPECT_EQ(0, archiveHalfFilledLogs(path("nope").c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ(strerror(ENOENT), msg.text());
}

TEST_F(Capture, AFolderHoldingOnlyTheLogControlFileIsAFailure) {
    ASSERT_TRUE(writeFile(logs_ + "/nlogctrl.lfh", "control"));
    MessageBuffer msg;
    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ("No files under transaction log dir: " + logs_ + "\n", msg.text());
}

TEST_F(Capture, StopsAtTheFirstFailingCopyInByteOrder) {
    // Entries are not told apart by type: a folder fails its copy.
    ASSERT_TRUE(makeDir(logs_ + "/b"));
    ASSERT_TRUE(makeDir(logs_ + "/a"));
    ASSERT_TRUE(writeFile(logs_ + "/c", "never reached"));
    MessageBuffer msg;

    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ(0u, msg.text().find("Error copying file " + logs_ + "/a to " + dest_ + "a. "))
        << msg.text();
    EXPECT_FALSE(exists(dest_ + "a"));
    EXPECT_FALSE(exists(dest_ + "c"));
}

TEST_F(Capture, RefusesANameThatWouldNotFitBeforeCopyingAnything) {
    ASSERT_TRUE(writeFile(logs_ + "/S0000001.TXN", "one"));
    // A destination deep enough that its copy's name is 1023 characters.
    std::string deep = path("backup");
    while (deep.size() + 201 + strlen("/S0000001.TXN") < 1023) {
        deep += "/" + std::string(200, 'd');
        ASSERT_TRUE(makeDir(deep));
    }
    deep += "/" + std::string(1023 - deep.size() - 1 - strlen("/S0000001.TXN"), 'e');
    ASSERT_TRUE(makeDir(deep));
    deep += "/";
    ASSERT_EQ(1023u, deep.size() + strlen("S0000001.TXN"));

    MessageBuffer tooLong;
    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), deep.c_str(), "x", tooLong.get()));
    EXPECT_EQ("Archived name too long (over 1023 characters): " + deep + "S0000001.TXNx",
              tooLong.text());
    EXPECT_FALSE(exists(deep + "S0000001.TXNx"));
    EXPECT_FALSE(exists(deep + "S0000001.TXN"));

    MessageBuffer fits;
    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), deep.c_str(), "", fits.get()));
    EXPECT_EQ("one", readFile(deep + "S0000001.TXN"));
}

}  // namespace
