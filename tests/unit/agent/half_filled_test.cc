// The half-filled capture: which files of the log folder are copied, which
// existing copies count as made, and what a failure leaves in the message
// buffer.
#include "agent/half_filled.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "agent/include/nsfmend/agent.h"
#include "common/emulated_server.h"
#include "message_buffer.h"

namespace {

class Capture : public EmulatedServer {
protected:
    void SetUp() override {
        EmulatedServer::SetUp();
        StartServer();
        logs_ = dir_ / "logs";
        dest_ = dir_ / "backup" + "/";
        ASSERT_TRUE(MakeDir(logs_));
        ASSERT_TRUE(MakeDir(dir_ / "backup"));
    }
    std::string logs_, dest_;
};

TEST_F(Capture, CopiesWhatHasNoCopyAndKeepsAnIdenticalOne) {
    ASSERT_TRUE(WriteFile(logs_ + "/S0000001.TXN", "one"));
    ASSERT_TRUE(WriteFile(logs_ + "/S0000002.TXN", std::string("two\0\r\n\xff", 8)));
    ASSERT_TRUE(WriteFile(logs_ + "/nlogctrl.lfh", "control"));
    ASSERT_TRUE(WriteFile(dest_ + "S0000001.TXN", "one"));
    struct stat before;
    ASSERT_EQ(0, stat((dest_ + "S0000001.TXN").c_str(), &before));
    MessageBuffer msg;

    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ("untouched", msg.text());
    struct stat after;
    ASSERT_EQ(0, stat((dest_ + "S0000001.TXN").c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);  // already archived: not copied again
    EXPECT_EQ(std::string("two\0\r\n\xff", 8), ReadFile(dest_ + "S0000002.TXN"));
    EXPECT_FALSE(Exists(dest_ + "nlogctrl.lfh"));
}

TEST_F(Capture, AnEarlierCaptureOfTheSameExtentIsCompleted) {
    ASSERT_TRUE(WriteFile(logs_ + "/S0000003.TXN", "records 1 2 3 4"));
    ASSERT_TRUE(WriteFile(dest_ + "S0000003.TXN-x", "records 1 2"));
    MessageBuffer msg;
    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "-x", msg.get()));
    EXPECT_EQ("records 1 2 3 4", ReadFile(dest_ + "S0000003.TXN-x"));
}

// Each copy keeps its source's times. Under relatime a read moves an access
// time that is older than the modification time, so a copy read again after
// it was made (to hash it, to compare it) would carry the run's time.
TEST_F(Capture, CopiesKeepTheSourcesAccessTime) {
    const struct {
        const char *name, *before;
    } kCopies[] = {{"S0000001.TXN", nullptr}, {"S0000002.TXN", "records 1"},
                   {"S0000003.TXN", "records 1 2"}};  // new, completed, kept
    for (const auto &c : kCopies) {
        ASSERT_TRUE(WriteFile(logs_ + "/" + c.name, "records 1 2"));
        ASSERT_TRUE(SetTimes(logs_ + "/" + c.name, 1000000000, 1100000000));
        if (c.before == nullptr) continue;
        ASSERT_TRUE(WriteFile(dest_ + c.name, c.before));
        ASSERT_TRUE(SetTimes(dest_ + c.name, 1000000000, 1100000000));
    }
    MessageBuffer msg;
    ASSERT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    for (const auto &c : kCopies) {
        EXPECT_EQ(1000000000, StatOf(dest_ + c.name).st_atime) << c.name;
        EXPECT_EQ("records 1 2", ReadFile(dest_ + c.name));
    }
}

TEST_F(Capture, AnythingElseOfThatNameIsAFailureAndStaysAsItWas) {
    ASSERT_TRUE(WriteFile(logs_ + "/S0000001.TXN", "one"));
    ASSERT_TRUE(WriteFile(logs_ + "/S0000002.TXN", "two"));
    ASSERT_TRUE(WriteFile(logs_ + "/S0000003.TXN", "three"));
    ASSERT_TRUE(WriteFile(dest_ + "S0000002.TXN", "another server's extent"));
    ASSERT_TRUE(MakeDir(dest_ + "S0000003.TXN"));
    auto nameExists = [&](const std::string &name) {
        return "Error copying file " + logs_ + "/" + name + " to " + dest_ + name + ". " +
               strerror(EEXIST);
    };
    MessageBuffer msg;

    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ(nameExists("S0000002.TXN"), msg.text());
    EXPECT_EQ("one", ReadFile(dest_ + "S0000001.TXN"));
    EXPECT_EQ("another server's extent", ReadFile(dest_ + "S0000002.TXN"));

    // A folder of that name is no copy either; the first failure in byte
    // order is the one reported, and the files after it are captured all
    // the same: one bad name must not leave the newest extent unsaved.
    ASSERT_EQ(0, unlink((dest_ + "S0000002.TXN").c_str()));
    ASSERT_TRUE(WriteFile(logs_ + "/S0000004.TXN", "four"));
    ASSERT_TRUE(WriteFile(dest_ + "S0000005.TXN", "not this one's"));
    ASSERT_TRUE(WriteFile(logs_ + "/S0000005.TXN", "five"));
    ASSERT_TRUE(WriteFile(logs_ + "/S0000006.TXN", "six"));
    MessageBuffer folder;
    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", folder.get()));
    EXPECT_EQ(nameExists("S0000003.TXN"), folder.text());
    EXPECT_EQ("two", ReadFile(dest_ + "S0000002.TXN"));
    EXPECT_EQ("four", ReadFile(dest_ + "S0000004.TXN"));
    EXPECT_EQ("not this one's", ReadFile(dest_ + "S0000005.TXN"));
    EXPECT_EQ("six", ReadFile(dest_ + "S0000006.TXN"));
}

TEST_F(Capture, HiddenNamesAndArchiveRecordsInTheLogFolderAreNotCopied) {
    ASSERT_TRUE(WriteFile(logs_ + "/S0000001.TXN", "one"));
    // What a stopped run of the program leaves, and what an editor does.
    ASSERT_TRUE(WriteFile(logs_ + "/.S0000002.TXN.nsfmend-0badc0de", "partial"));
    ASSERT_TRUE(WriteFile(logs_ + "/.S0000001.TXN.swp", "editor"));
    ASSERT_TRUE(WriteFile(logs_ + "/nsfmend-archive-20131115T120000Z.sha256", "copied in"));
    MessageBuffer msg;
    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "-x", msg.get()));
    std::set<std::string> copied;
    for (const std::string &name : FolderNames(dest_))
        if (name.rfind("nsfmend-archive-", 0) != 0) copied.insert(name);
    EXPECT_EQ(std::set<std::string>{"S0000001.TXN-x"}, copied);
    // Only hidden names alone: nothing to capture.
    ASSERT_EQ(0, unlink((logs_ + "/S0000001.TXN").c_str()));
    MessageBuffer none;
    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "-x", none.get()));
    EXPECT_EQ("No files under transaction log dir: " + logs_ + "\n", none.text());
}

TEST_F(Capture, SpecialFilesAreNeitherCopiedNorWaitedOn) {
    ASSERT_TRUE(WriteFile(logs_ + "/S0000001.TXN", "one"));
    ASSERT_EQ(0, mkfifo((logs_ + "/S0000002.TXN").c_str(), 0600));
    ASSERT_EQ(0, symlink("/dev/zero", (logs_ + "/S0000003.TXN").c_str()));
    ASSERT_TRUE(MakeDir(logs_ + "/S0000004.TXN"));
    ASSERT_EQ(0, symlink(logs_.c_str(), (logs_ + "/S0000005.TXN").c_str()));
    MessageBuffer msg;
    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ("untouched", msg.text());
    EXPECT_EQ("one", ReadFile(dest_ + "S0000001.TXN"));
    for (const char *n : {"S0000002.TXN", "S0000003.TXN", "S0000004.TXN", "S0000005.TXN"})
        EXPECT_FALSE(Exists(dest_ + n)) << n;

    // Only special files beside the log control file: nothing to capture.
    ASSERT_EQ(0, unlink((logs_ + "/S0000001.TXN").c_str()));
    MessageBuffer none;
    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", none.get()));
    EXPECT_EQ("No files under transaction log dir: " + logs_ + "\n", none.text());
}

TEST_F(Capture, LogFolderWithOrWithoutSlashGivesTheSameSourcePaths) {
    ASSERT_TRUE(WriteFile(logs_ + "/S0000001.TXN", "one"));
    const std::string missingDest = (dir_ / "missing") + "/";
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
    EXPECT_EQ(0, archiveHalfFilledLogs((dir_ / "nope").c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ(strerror(ENOENT), msg.text());
}

TEST_F(Capture, AFolderHoldingOnlyTheLogControlFileIsAFailure) {
    ASSERT_TRUE(WriteFile(logs_ + "/nlogctrl.lfh", "control"));
    MessageBuffer msg;
    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), dest_.c_str(), "", msg.get()));
    EXPECT_EQ("No files under transaction log dir: " + logs_ + "\n", msg.text());
}

TEST_F(Capture, RefusesANameThatWouldNotFitBeforeCopyingAnything) {
    ASSERT_TRUE(WriteFile(logs_ + "/S0000001.TXN", "one"));
    // A destination deep enough that its copy's name is 1023 characters.
    std::string deep = (dir_ / "backup");
    while (deep.size() + 201 + strlen("/S0000001.TXN") < 1023) {
        deep += "/" + std::string(200, 'd');
        ASSERT_TRUE(MakeDir(deep));
    }
    deep += "/" + std::string(1023 - deep.size() - 1 - strlen("/S0000001.TXN"), 'e');
    ASSERT_TRUE(MakeDir(deep));
    deep += "/";
    ASSERT_EQ(1023u, deep.size() + strlen("S0000001.TXN"));

    MessageBuffer tooLong;
    EXPECT_EQ(0, archiveHalfFilledLogs(logs_.c_str(), deep.c_str(), "x", tooLong.get()));
    EXPECT_EQ("Archived name too long (over 1023 characters): " + deep + "S0000001.TXNx",
              tooLong.text());
    EXPECT_FALSE(Exists(deep + "S0000001.TXNx"));
    EXPECT_FALSE(Exists(deep + "S0000001.TXN"));

    MessageBuffer fits;
    EXPECT_EQ(1, archiveHalfFilledLogs(logs_.c_str(), deep.c_str(), "", fits.get()));
    EXPECT_EQ("one", ReadFile(deep + "S0000001.TXN"));
}

}  // namespace
