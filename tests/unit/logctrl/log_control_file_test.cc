#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/captured_stdout.h"
#include "common/emulated_server.h"
#include "logctrl/logctrl.h"
#include "notesapi/notesapi.h"

namespace {

// An emulated server whose notes.ini names `logPath` as TRANSLOG_Path (none
// when withPath is false), with the runtime started on it.
class LogControlFileTest : public EmulatedServer {
protected:
    void Start(const std::string &logPath, bool withPath = true) {
        StartServer({withPath ? "TRANSLOG_Path=" + logPath : "TRANSLOG_Path"});
        data = dataDir_;
    }
    // removeLogControlFile with its printed output.
    static int Remove(const std::string &dataDir, std::string *output) {
        CapturedStdout captured;
        int rc = removeLogControlFile(dataDir.c_str());
        *output = captured.text();
        return rc;
    }

    std::string data;
};

}  // namespace

TEST_F(LogControlFileTest, RelativeLogDirectoryIsUnderTheDataDirectory) {
    Start("logdir");
    WriteFile(data + "/logdir/nlogctrl.lfh", "control");
    std::string out;
    EXPECT_EQ(1, Remove(data, &out));
    EXPECT_EQ("Delete log control file " + data + "/logdir/nlogctrl.lfh\n", out);
    EXPECT_FALSE(Exists(data + "/logdir/nlogctrl.lfh"));
    // Gone already: the same line, still success.
    EXPECT_EQ(1, Remove(data + "/", &out));
    EXPECT_EQ("Delete log control file " + data + "/logdir/nlogctrl.lfh\n", out);
}

TEST_F(LogControlFileTest, AbsoluteLogDirectoryWithFinalSlash) {
    std::string logs = dir_ / "logs";
    ASSERT_EQ(0, mkdir(logs.c_str(), 0700));
    Start(logs + "/");
    WriteFile(logs + "/nlogctrl.lfh", "control");
    std::string out;
    EXPECT_EQ(1, Remove("/elsewhere", &out));
    EXPECT_EQ("Delete log control file " + logs + "/nlogctrl.lfh\n", out);
    EXPECT_FALSE(Exists(logs + "/nlogctrl.lfh"));
}

TEST_F(LogControlFileTest, MissingLogDirectorySetting) {
    Start("", false);
    std::string out;
    EXPECT_EQ(0, Remove(data, &out));
    EXPECT_EQ("Fail to get transaction log directory\n", out);
}

TEST_F(LogControlFileTest, FileThatCannotBeRemovedGivesTheSystemText) {
    Start("logdir");
    // A non-empty directory of that name cannot be removed, even by root.
    unlink((data + "/logdir/nlogctrl.lfh").c_str());
    ASSERT_EQ(0, mkdir((data + "/logdir/nlogctrl.lfh").c_str(), 0700));
    WriteFile(data + "/logdir/nlogctrl.lfh/x", "x");
    std::string out;
    EXPECT_EQ(0, Remove(data, &out));
    EXPECT_EQ("Fail to delete log control file " + data + "/logdir/nlogctrl.lfh, Reason=" +
                  strerror(ENOTEMPTY) + "\n",
              out);
}

// The deletion's own question foresees it: ok exactly when the deletion
// succeeds, else the very line it prints.
TEST_F(LogControlFileTest, ThePreCheckForeseesTheDeletionsLine) {
    Start("logdir");
    const std::string logDir = data + "/logdir", path = logDir + "/nlogctrl.lfh";
    struct Case {
        const char *what;
        void (*make)(const std::string &path);
    };
    const Case cases[] = {
        {"a file", [](const std::string &) {}},
        {"none", [](const std::string &p) { unlink(p.c_str()); }},
        {"an empty folder",
         [](const std::string &p) { unlink(p.c_str()), mkdir(p.c_str(), 0700); }},
        {"a folder with a file",
         [](const std::string &p) {
             unlink(p.c_str()), mkdir(p.c_str(), 0700), WriteFile(p + "/x", "x");
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(path, "control");
        c.make(path);
        const nsfmend::Result foreseen = nsfmend::checkRemoveLogControlFile(logDir);
        std::string out;
        const int rc = Remove(data, &out);
        EXPECT_EQ(rc == 1, foreseen.isOk());
        EXPECT_EQ(rc == 1 ? "Delete log control file " + path : foreseen.text(),
                  out.substr(0, out.size() - 1));
        RemoveTree(path);
    }
}

TEST_F(LogControlFileTest, JoinedPathTooLongIsRefused) {
    Start("logdir");
    std::string longData = "/" + std::string(1010, 'd');
    std::string out;
    EXPECT_EQ(0, Remove(longData, &out));
    EXPECT_EQ("Fail to delete log control file " + longData + "/logdir/nlogctrl.lfh, Reason=" +
                  strerror(ENAMETOOLONG) + "\n",
              out);
    // A log folder too long in itself gets the same line, and is never taken
    // relative to wherever the program runs.
    std::string longerData = "/" + std::string(1020, 'd');
    EXPECT_EQ(0, Remove(longerData, &out));
    EXPECT_EQ("Fail to delete log control file " + longerData + "/logdir/nlogctrl.lfh, Reason=" +
                  strerror(ENAMETOOLONG) + "\n",
              out);
}
