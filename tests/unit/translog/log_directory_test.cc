// The transaction-log directory: where TRANSLOG_Path puts it, what extents
// and their copies are called, and what a listing of it holds.
#include "translog/log_directory.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/emulated_server.h"

using namespace nsfmend;  // the module under test

namespace {

std::string archivedNameIn(const char *dir, DWORD number, const char *suffix) {
    char name[1024];
    if (!formatArchivedName(name, sizeof name, dir, number, suffix)) return "<refused>";
    return name;
}

TEST(ArchivedName, PadsToSevenDigitsAndNeverCutsLongerNumbers) {
    EXPECT_EQ("/backup/logs/S0000042.TXN-full", archivedNameIn("/backup/logs/", 42, "-full"));
    EXPECT_EQ("/backup/logs/S0000042.TXN", archivedNameIn("/backup/logs/", 42, ""));
    EXPECT_EQ("/backup/S12345678.TXN", archivedNameIn("/backup/", 12345678, ""));
    // Past 2^31 the number stays unsigned, never a minus sign.
    EXPECT_EQ("/b/S4294967295.TXN", archivedNameIn("/b/", 4294967295u, ""));
    // The folder is used as given: no separator is added here.
    EXPECT_EQ("/backupS0000042.TXNx", archivedNameIn("/backup", 42, "x"));
}

TEST(ArchivedName, RefusesWhatWouldNotFitTheBuffer) {
    const std::string dir = "/" + std::string(1023 - 1 - strlen("S0000001.TXN"), 'd');
    EXPECT_EQ(1023u, archivedNameIn(dir.c_str(), 1, "").size());
    EXPECT_EQ("<refused>", archivedNameIn(dir.c_str(), 1, "x"));
    EXPECT_EQ("<refused>", archivedNameIn(dir.c_str(), 12345678, ""));
    char name[16] = "sentinel";
    EXPECT_FALSE(formatArchivedName(name, sizeof name, "/long/folder/", 1, ""));
    EXPECT_STREQ("", name);
}

TEST(ArchivedName, AnExtentCapturedFromTheLogFolderGetsTheNameTheLoopGivesIt) {
    EXPECT_EQ(archivedName("/backup/", 42, "-x"), capturedName("/backup/", "S0000042.TXN", "-x"));
    EXPECT_EQ("/backup/notes.log", capturedName("/backup/", "notes.log", ""));
}

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

TEST(LogDirectoryListing, NamesInByteOrderWithTheirKindsAndNoControlFile) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "S0000002.TXN", "two"));
    ASSERT_TRUE(WriteFile(dir / "S0000001.TXN", "one"));
    ASSERT_TRUE(WriteFile(dir / "nlogctrl.lfh", "control"));
    ASSERT_EQ(0, mkfifo((dir / "S0000003.TXN").c_str(), 0600));
    ASSERT_TRUE(MakeDir(dir / "S0000004.TXN"));
    ASSERT_EQ(0, symlink("S0000001.TXN", (dir / "S0000005.TXN").c_str()));
    ASSERT_EQ(0, symlink("gone", (dir / "S0000006.TXN").c_str()));

    std::vector<LogFile> files = {{"stale", LogFileKind::kRegular}};
    ASSERT_EQ(0, listLogDirectory(dir.path().c_str(), &files));
    std::vector<std::string> names;
    std::vector<LogFileKind> kinds;
    for (const LogFile &f : files) {
        names.push_back(f.name);
        kinds.push_back(f.kind);
    }
    EXPECT_EQ((std::vector<std::string>{"S0000001.TXN", "S0000002.TXN", "S0000003.TXN",
                                        "S0000004.TXN", "S0000005.TXN", "S0000006.TXN"}),
              names);
    EXPECT_EQ((std::vector<LogFileKind>{LogFileKind::kRegular, LogFileKind::kRegular,
                                        LogFileKind::kNotRegular, LogFileKind::kNotRegular,
                                        LogFileKind::kRegular, LogFileKind::kUnknown}),
              kinds);

    EXPECT_EQ(ENOENT, listLogDirectory((dir / "missing").c_str(), &files));
    EXPECT_TRUE(files.empty());
}

// The rule itself, for a value read from notes.ini without a runtime.
TEST(LogDirectoryFrom, AbsoluteAsItIsRelativeFromTheDataFolderNeverEmptyNorCut) {
    struct Case {
        const char *dataDir, *value;
        int rc;
        std::string logDir;
    };
    const std::string tooLong(kLogDirectoryMax, 'v');
    const Case cases[] = {
        {"/data", "/logs/txn", 0, "/logs/txn"},
        {"/data/", "txn", 0, "/data/txn"},
        {"/data", "txn/", 0, "/data/txn/"},
        {"/data", "", ENOENT, ""},
        {"/data", tooLong.c_str(), ENAMETOOLONG, "/data/" + tooLong},
    };
    for (const Case &c : cases) {
        std::string logDir = "stale";
        EXPECT_EQ(c.rc, logDirectoryFrom(c.dataDir, c.value, &logDir)) << c.value;
        EXPECT_EQ(c.logDir, logDir) << c.value;
    }
}

// The folder the running runtime gives for each TRANSLOG_Path line of
// notes.ini (logging is off, so the folder need not exist), as
// "<result> <folder>", asked of the API or as the caller has the data folder.
class LogFolder : public EmulatedServer {
protected:
    static std::string Resolved(const char *dataDir = nullptr) {
        std::string logDir = "stale";
        const int rc = resolveLogDirectory(dataDir, &logDir);
        return std::to_string(rc) + " " + logDir;
    }
};

TEST_F(LogFolder, AbsoluteAsItIsRelativeJoinedNeverEmptyCutNorTooLong) {
    const std::string room(1022 - 1 - dataDir_.size(), 'v');  // just short enough to join
    const std::string fits = "/" + std::string(1021, 'a'), full = "/" + std::string(1022, 'a');
    const std::string enoent = std::to_string(ENOENT) + " ", toolong = std::to_string(ENAMETOOLONG) + " ";
    // atSrv: what a caller whose data folder is /srv is given ("" not asked).
    const struct {
        std::string setting, logDir, atSrv;
    } cases[] = {
        {"TRANSLOG_Path=/logs/txn", "0 /logs/txn", "0 /logs/txn"},
        {"TRANSLOG_Path=txnlogs", "0 " + dataDir_ + "/txnlogs", "0 /srv/txnlogs"},
        {"TRANSLOG_Path", enoent, ""},
        {"TRANSLOG_Path=", enoent, ""},
        {"TRANSLOG_Path=" + room + "v", toolong + dataDir_ + "/" + room + "v", ""},  // never used relative
        {"TRANSLOG_Path=" + room, "0 " + dataDir_ + "/" + room, ""},
        {"TRANSLOG_Path=" + fits, "0 " + fits, ""},
        // Longer than the 1023 characters the API hands out: it comes cut.
        {"TRANSLOG_Path=" + full + "/more/", toolong + full, ""},
    };
    for (const auto &c : cases) {
        NotesTerm();
        RemoveTree(dataDir_);
        ASSERT_NO_FATAL_FAILURE(StartServer({"TRANSLOG_Status=0", c.setting})) << c.setting;
        EXPECT_EQ(c.logDir, Resolved()) << c.setting;
        if (c.atSrv.empty()) continue;
        EXPECT_EQ(c.atSrv, Resolved("/srv")) << c.setting;
        // The caller's own data folder with a final "/": it is not doubled.
        EXPECT_EQ(c.logDir, Resolved((dataDir_ + "/").c_str())) << c.setting;
    }
}

}  // namespace
