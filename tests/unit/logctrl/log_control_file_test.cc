#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "logctrl/logctrl.h"
#include "notesapi/notesapi.h"
#include "support/temp_dir.h"

namespace {

// An emulated server whose notes.ini names `logPath` as TRANSLOG_Path (none
// when empty), with the runtime started on it for the test's lifetime.
class LogControlFileTest : public ::testing::Test {
protected:
    void Start(const std::string &logPath, bool withPath = true) {
        data = dir / "notesdata";
        std::string cmd = std::string(NOTESEMU_BIN) + " init '" + data + "' >/dev/null";
        ASSERT_EQ(0, system(cmd.c_str()));
        std::string ini = ReadFile(data + "/notes.ini"), kept;
        size_t start = 0;
        while (start < ini.size()) {  // drop the default TRANSLOG_Path line
            size_t end = ini.find('\n', start);
            end = end == std::string::npos ? ini.size() : end + 1;
            std::string line = ini.substr(start, end - start);
            if (line.rfind("TRANSLOG_Path=", 0) != 0) kept += line;
            start = end;
        }
        if (withPath) kept += "TRANSLOG_Path=" + logPath + "\n";
        WriteFile(data + "/notes.ini", kept);
        std::string iniArg = "=" + data + "/notes.ini";
        char *argv[] = {const_cast<char *>(data.c_str()), const_cast<char *>(iniArg.c_str())};
        ASSERT_EQ(0, NotesInitExtended(2, argv));
        started = true;
    }
    void TearDown() override {
        if (started) NotesTerm();
    }
    // removeLogControlFile with its printed output.
    int Remove(const std::string &dataDir, std::string *output) {
        testing::internal::CaptureStdout();
        int rc = removeLogControlFile(dataDir.c_str());
        fflush(stdout);
        *output = testing::internal::GetCapturedStdout();
        return rc;
    }

    TempDir dir;
    std::string data;
    bool started = false;
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
    std::string logs = dir / "logs";
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

TEST_F(LogControlFileTest, JoinedPathTooLongIsRefused) {
    Start("logdir");
    std::string longData = "/" + std::string(1010, 'd');
    std::string out;
    EXPECT_EQ(0, Remove(longData, &out));
    EXPECT_EQ("Fail to delete log control file " + longData + "/logdir/nlogctrl.lfh, Reason=" +
                  strerror(ENAMETOOLONG) + "\n",
              out);
}
