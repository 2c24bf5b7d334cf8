// Archived names, the time stamp and the log folder.
#include "agent/archive.h"

#include <errno.h>
#include <regex.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "agent/include/nsfmend/agent.h"
#include "common/emulated_server.h"

using nsfmend::formatArchivedName;
using nsfmend::resolveLogDirectory;

namespace {

std::string archivedName(const char *dir, DWORD number, const char *suffix) {
    char name[1024];
    if (!formatArchivedName(name, sizeof name, dir, number, suffix)) return "<refused>";
    return name;
}

TEST(ArchivedName, PadsToSevenDigitsAndNeverCutsLongerNumbers) {
    EXPECT_EQ("/backup/logs/S0000042.TXN-full", archivedName("/backup/logs/", 42, "-full"));
    EXPECT_EQ("/backup/logs/S0000042.TXN", archivedName("/backup/logs/", 42, ""));
    EXPECT_EQ("/backup/S12345678.TXN", archivedName("/backup/", 12345678, ""));
    // Past 2^31 the number stays unsigned, never a minus sign.
    EXPECT_EQ("/b/S4294967295.TXN", archivedName("/b/", 4294967295u, ""));
    // The folder is used as given: no separator is added here.
    EXPECT_EQ("/backupS0000042.TXNx", archivedName("/backup", 42, "x"));
}

TEST(ArchivedName, RefusesWhatWouldNotFitTheBuffer) {
    const std::string dir = "/" + std::string(1023 - 1 - strlen("S0000001.TXN"), 'd');
    EXPECT_EQ(1023u, archivedName(dir.c_str(), 1, "").size());
    EXPECT_EQ("<refused>", archivedName(dir.c_str(), 1, "x"));
    EXPECT_EQ("<refused>", archivedName(dir.c_str(), 12345678, ""));
    char name[16] = "sentinel";
    EXPECT_FALSE(formatArchivedName(name, sizeof name, "/long/folder/", 1, ""));
    EXPECT_STREQ("", name);
}

TEST(TimeStamp, IsTheLocalTimeInTheFormatHandedBack) {
    char stamp[NSFMEND_TIMESTAMP_SIZE];
    char format[NSFMEND_TIMEFORMAT_SIZE];
    memset(stamp, 'x', sizeof stamp);
    memset(format, 'x', sizeof format);
    getCurrentTime(stamp, format);
    EXPECT_STREQ("%Y-%m-%d-%H-%M-%S", format);
    regex_t pattern;
    ASSERT_EQ(0, regcomp(&pattern, "^[0-9]{4}(-[0-9]{2}){5}$", REG_EXTENDED | REG_NOSUB));
    EXPECT_EQ(0, regexec(&pattern, stamp, 0, nullptr, 0)) << stamp;
    regfree(&pattern);
}

class LogFolder : public EmulatedServer {
protected:
    std::string resolved() {
        char logDir[1024];
        memset(logDir, 'x', sizeof logDir);
        if (!resolveLogDirectory(logDir, sizeof logDir)) return "<none>";
        return logDir;
    }
};

TEST_F(LogFolder, AbsoluteValueIsUsedAsItIs) {
    StartServer({"TRANSLOG_Status=0", "TRANSLOG_Path=/logs/txn"});
    EXPECT_EQ("/logs/txn", resolved());
}

TEST_F(LogFolder, RelativeValueIsJoinedToTheDataFolder) {
    StartServer({"TRANSLOG_Status=0", "TRANSLOG_Path=txnlogs"});
    EXPECT_EQ(dataDir_ + "/txnlogs", resolved());
}

TEST_F(LogFolder, MissingOrEmptySettingGivesNoFolder) {
    StartServer({"TRANSLOG_Status=0", "TRANSLOG_Path"});
    EXPECT_EQ("<none>", resolved());
    NotesTerm();
    RemoveTree(dataDir_);
    StartServer({"TRANSLOG_Status=0", "TRANSLOG_Path="});
    EXPECT_EQ("<none>", resolved());
}

TEST_F(LogFolder, RelativeValueTooLongToJoinStaysRelative) {
    const std::string value(1022 - 1 - dataDir_.size() + 1, 'v');
    StartServer({"TRANSLOG_Status=0", "TRANSLOG_Path=" + value});
    EXPECT_EQ(value, resolved());
}

TEST_F(LogFolder, RelativeValueJustShortEnoughIsJoined) {
    const std::string value(1022 - 1 - dataDir_.size(), 'v');
    StartServer({"TRANSLOG_Status=0", "TRANSLOG_Path=" + value});
    EXPECT_EQ(dataDir_ + "/" + value, resolved());
}

}  // namespace
