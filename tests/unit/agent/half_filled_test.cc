// The half-filled capture: which files of the log folder are copied, which
// existing copies count as made, and what a failure leaves in the message
// buffer.
#include "agent/half_filled.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

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
    // Writes each name (under folder, which ends with "/") with its text.
    static void Files(const std::string &folder,
                      const std::vector<std::pair<std::string, std::string>> &files) {
        for (const auto &[name, text] : files) ASSERT_TRUE(WriteFile(folder + name, text));
    }
    // The capture of logDir (the log folder when empty) into dest: its
    // result and the message buffer, "1 untouched" for a success.
    static std::string Run(const std::string &logDir, const std::string &dest,
                           const char *suffix = "") {
        MessageBuffer msg;
        const int result = archiveHalfFilledLogs(logDir.c_str(), dest.c_str(), suffix, msg.get());
        return std::to_string(result) + " " + msg.text();
    }
    std::string Run(const char *suffix = "") const { return Run(logs_, dest_, suffix); }
    std::string NothingToCapture() const {
        return "0 No files under transaction log dir: " + logs_ + "\n";
    }
    std::string logs_, dest_;
};

// What has no copy is copied, an identical copy kept (already archived: not
// copied again), an earlier capture of the same extent completed.
TEST_F(Capture, CopiesWhatHasNoCopyKeepsAnIdenticalOneAndCompletesAnEarlierOne) {
    Files(logs_ + "/", {{"S0000001.TXN", "one"},
                        {"S0000002.TXN", std::string("two\0\r\n\xff", 8)},
                        {"S0000003.TXN", "records 1 2 3 4"},
                        {"nlogctrl.lfh", "control"}});
    Files(dest_, {{"S0000001.TXN-x", "one"}, {"S0000003.TXN-x", "records 1 2"}});
    const ino_t before = StatOf(dest_ + "S0000001.TXN-x").st_ino;

    EXPECT_EQ("1 untouched", Run("-x"));
    EXPECT_EQ(before, StatOf(dest_ + "S0000001.TXN-x").st_ino);
    EXPECT_EQ(std::string("two\0\r\n\xff", 8), ReadFile(dest_ + "S0000002.TXN-x"));
    EXPECT_EQ("records 1 2 3 4", ReadFile(dest_ + "S0000003.TXN-x"));
    EXPECT_FALSE(Exists(dest_ + "nlogctrl.lfh-x"));
    EXPECT_FALSE(Exists(dest_ + "nlogctrl.lfh"));
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
        Files(logs_ + "/", {{c.name, "records 1 2"}});
        ASSERT_TRUE(SetTimes(logs_ + "/" + c.name, 1000000000, 1100000000));
        if (c.before == nullptr) continue;
        Files(dest_, {{c.name, c.before}});
        ASSERT_TRUE(SetTimes(dest_ + c.name, 1000000000, 1100000000));
    }
    ASSERT_EQ("1 untouched", Run());
    for (const auto &c : kCopies) {
        EXPECT_EQ(1000000000, StatOf(dest_ + c.name).st_atime) << c.name;
        EXPECT_EQ("records 1 2", ReadFile(dest_ + c.name));
    }
}

TEST_F(Capture, AnythingElseOfThatNameIsAFailureAndStaysAsItWas) {
    Files(logs_ + "/", {{"S0000001.TXN", "one"}, {"S0000002.TXN", "two"}, {"S0000003.TXN", "three"}});
    Files(dest_, {{"S0000002.TXN", "another server's extent"}});
    ASSERT_TRUE(MakeDir(dest_ + "S0000003.TXN"));
    auto nameExists = [&](const std::string &name) {
        return "0 Error copying file " + logs_ + "/" + name + " to " + dest_ + name + ". " +
               strerror(EEXIST);
    };

    EXPECT_EQ(nameExists("S0000002.TXN"), Run());
    EXPECT_EQ("one", ReadFile(dest_ + "S0000001.TXN"));
    EXPECT_EQ("another server's extent", ReadFile(dest_ + "S0000002.TXN"));

    // A folder of that name is no copy either; the first failure in byte
    // order is the one reported, and the files after it are captured all
    // the same: one bad name must not leave the newest extent unsaved.
    ASSERT_EQ(0, unlink((dest_ + "S0000002.TXN").c_str()));
    Files(logs_ + "/", {{"S0000004.TXN", "four"}, {"S0000005.TXN", "five"}, {"S0000006.TXN", "six"}});
    Files(dest_, {{"S0000005.TXN", "not this one's"}});
    EXPECT_EQ(nameExists("S0000003.TXN"), Run());
    EXPECT_EQ("two", ReadFile(dest_ + "S0000002.TXN"));
    EXPECT_EQ("four", ReadFile(dest_ + "S0000004.TXN"));
    EXPECT_EQ("not this one's", ReadFile(dest_ + "S0000005.TXN"));
    EXPECT_EQ("six", ReadFile(dest_ + "S0000006.TXN"));
}

TEST_F(Capture, HiddenNamesAndArchiveRecordsInTheLogFolderAreNotCopied) {
    // What a stopped run of the program leaves, and what an editor does.
    Files(logs_ + "/", {{"S0000001.TXN", "one"},
                        {".S0000002.TXN.nsfmend-0badc0de", "partial"},
                        {".S0000001.TXN.swp", "editor"},
                        {"nsfmend-archive-20131115T120000Z.sha256", "copied in"}});
    EXPECT_EQ("1 untouched", Run("-x"));
    std::set<std::string> copied;
    for (const std::string &name : FolderNames(dest_))
        if (name.rfind("nsfmend-archive-", 0) != 0) copied.insert(name);
    EXPECT_EQ(std::set<std::string>{"S0000001.TXN-x"}, copied);
    // Only hidden names alone: nothing to capture.
    ASSERT_EQ(0, unlink((logs_ + "/S0000001.TXN").c_str()));
    EXPECT_EQ(NothingToCapture(), Run("-x"));
}

TEST_F(Capture, SpecialFilesAreNeitherCopiedNorWaitedOn) {
    Files(logs_ + "/", {{"S0000001.TXN", "one"}});
    ASSERT_EQ(0, mkfifo((logs_ + "/S0000002.TXN").c_str(), 0600));
    ASSERT_EQ(0, symlink("/dev/zero", (logs_ + "/S0000003.TXN").c_str()));
    ASSERT_TRUE(MakeDir(logs_ + "/S0000004.TXN"));
    ASSERT_EQ(0, symlink(logs_.c_str(), (logs_ + "/S0000005.TXN").c_str()));
    EXPECT_EQ("1 untouched", Run());
    EXPECT_EQ("one", ReadFile(dest_ + "S0000001.TXN"));
    for (const char *n : {"S0000002.TXN", "S0000003.TXN", "S0000004.TXN", "S0000005.TXN"})
        EXPECT_FALSE(Exists(dest_ + n)) << n;

    // Only special files beside the log control file: nothing to capture.
    ASSERT_EQ(0, unlink((logs_ + "/S0000001.TXN").c_str()));
    EXPECT_EQ(NothingToCapture(), Run());
}

TEST_F(Capture, LogFolderWithOrWithoutSlashGivesTheSameSourcePaths) {
    Files(logs_ + "/", {{"S0000001.TXN", "one"}});
    const std::string missingDest = (dir_ / "missing") + "/";
    // A missing destination passes every existence test, so the copy runs and fails.
    for (const std::string &logDir : {logs_, logs_ + "/"})
        EXPECT_EQ("0 Error copying file " + logs_ + "/S0000001.TXN to " + missingDest +
                      "S0000001.TXN. " + strerror(ENOENT),
                  Run(logDir, missingDest));
}

TEST_F(Capture, AMissingOrEmptyLogFolderIsAFailure) {
    EXPECT_EQ(std::string("0 ") + strerror(ENOENT), Run(dir_ / "nope", dest_));
    // Only the log control file: nothing to capture.
    Files(logs_ + "/", {{"nlogctrl.lfh", "control"}});
    EXPECT_EQ(NothingToCapture(), Run());
}

TEST_F(Capture, RefusesANameThatWouldNotFitBeforeCopyingAnything) {
    Files(logs_ + "/", {{"S0000001.TXN", "one"}});
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

    EXPECT_EQ("0 Archived name too long (over 1023 characters): " + deep + "S0000001.TXNx",
              Run(logs_, deep, "x"));
    EXPECT_FALSE(Exists(deep + "S0000001.TXNx"));
    EXPECT_FALSE(Exists(deep + "S0000001.TXN"));
    EXPECT_EQ("1 untouched", Run(logs_, deep));
    EXPECT_EQ("one", ReadFile(deep + "S0000001.TXN"));
}

}  // namespace
