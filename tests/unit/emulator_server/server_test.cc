// Opening databases, offline/online, the archiving bracket and the log
// control rebuild, through the exported calls against a real data folder.
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <functional>

#include "formats/extent.h"
#include "formats/log_control.h"
#include "server_fixture.h"

namespace {

TEST_F(ServerTest, OpenFindsDatabasesTheWayTheServerNamesThem) {
    Init();
    ASSERT_EQ(Emu({"create", "mail/a.nsf"}), 0);
    ASSERT_EQ(Emu({"create", "plain.nsf", "--unlogged"}), 0);
    ASSERT_EQ(Start(), NOERROR);
    DBHANDLE names = 0, mail = 0, plain = 0;
    ASSERT_EQ(NSFDbOpen("", &names), NOERROR);  // the directory database
    ASSERT_EQ(NSFDbOpen("mail/a.nsf", &mail), NOERROR);
    ASSERT_EQ(NSFDbOpen((dataDir_ + "/plain.nsf").c_str(), &plain), NOERROR);
    EXPECT_NE(names, mail);
    BOOL logged = FALSE;
    UNID logId, iid;
    DWORD extent = 0;
    ASSERT_EQ(NSFDbGetLogInfo(mail, 0, &logged, &logId, &iid, &extent), NOERROR);
    EXPECT_TRUE(logged);
    EXPECT_EQ(emu::UnidHex(iid), Field("mail/a.nsf", "instance-id"));
    EXPECT_EQ(emu::UnidHex(logId), Field("names.nsf", "log-id"));
    EXPECT_EQ(extent, 1u);
    ASSERT_EQ(NSFDbGetLogInfo(plain, 0, &logged, &logId, &iid, &extent), NOERROR);
    EXPECT_FALSE(logged);
    EXPECT_EQ(NSFDbClose(mail), NOERROR);
    EXPECT_EQ(NSFDbClose(mail), EMU_ERR_BAD_HANDLE);
    EXPECT_EQ(NSFDbGetLogInfo(mail, 0, &logged, &logId, &iid, &extent), EMU_ERR_BAD_HANDLE);
    EXPECT_EQ(NSFDbClose(0), EMU_ERR_BAD_HANDLE);
    EXPECT_EQ(NSFDbClose(names), NOERROR);
    EXPECT_EQ(NSFDbClose(plain), NOERROR);
}

TEST_F(ServerTest, OpenRefusesWhatIsNotASoundDatabase) {
    Init();
    ASSERT_EQ(Start(), NOERROR);
    DBHANDLE h = 99;
    EXPECT_EQ(NSFDbOpen("missing.nsf", &h), EMU_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(h, 0u);
    std::string names = ReadFile(dataDir_ + "/names.nsf");
    ASSERT_EQ(emu::WriteFileAtomic(dataDir_ + "/short.nsf", names.substr(0, names.size() - 1)), 0);
    EXPECT_EQ(NSFDbOpen("short.nsf", &h), EMU_ERR_DB_CORRUPT);
    ASSERT_EQ(emu::WriteFileAtomic(dataDir_ + "/text.nsf", "hello\n"), 0);
    EXPECT_EQ(NSFDbOpen("text.nsf", &h), EMU_ERR_NOT_A_DATABASE);
    ASSERT_EQ(symlink("nowhere.nsf", (dataDir_ + "/dangling.nsf").c_str()), 0);
    EXPECT_EQ(NSFDbOpen("dangling.nsf", &h), EMU_ERR_FILE_NOT_FOUND);
    if (geteuid() != 0) {
        ASSERT_EQ(chmod((dataDir_ + "/names.nsf").c_str(), 0), 0);
        EXPECT_EQ(NSFDbOpen("", &h), EMU_ERR_FILE_ACCESS);
    }
    setenv("NOTESEMU_FAIL", "NSFDbOpen#2=1234", 1);
    EXPECT_EQ(NSFDbOpen("text.nsf", &h), EMU_ERR_NOT_A_DATABASE);
    EXPECT_EQ(NSFDbOpen("", &h), 1234);
}

TEST_F(ServerTest, OfflineNeedsARunningServerAndAlternates) {
    Init();
    ASSERT_EQ(Start(), NOERROR);
    char names[] = "names.nsf";
    EXPECT_EQ(NSFTakeDatabaseOffline(names, 0, 1), EMU_DB_NOT_IN_USE);
    ASSERT_EQ(Emu({"server", "start"}), 0);
    char missing[] = "missing.nsf";
    EXPECT_EQ(NSFTakeDatabaseOffline(missing, 0, 1), EMU_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(NSFBringDatabaseOnline(names, 0), EMU_ERR_DB_ALREADY_ONLINE);
    ASSERT_EQ(NSFTakeDatabaseOffline(names, 0, 1), NOERROR);
    std::string abs = dataDir_ + "/names.nsf";
    EXPECT_EQ(NSFTakeDatabaseOffline(&abs[0], 0, 1), EMU_ERR_DB_ALREADY_OFFLINE);
    EXPECT_EQ(Field("names.nsf", "state"), "offline");
    DBHANDLE h;
    EXPECT_EQ(NSFDbOpen("", &h), EMU_ERR_DB_OFFLINE);
    EXPECT_NE(Emu({"put", "names.nsf", "1", "x"}), 0);
    // A damaged file copied in does not come online.
    std::string good = ReadFile(abs);
    ASSERT_EQ(emu::WriteFileAtomic(abs, good.substr(0, 50)), 0);
    EXPECT_EQ(NSFBringDatabaseOnline(&abs[0], 0), EMU_ERR_DB_CORRUPT);
    ASSERT_EQ(emu::WriteFileAtomic(abs, good), 0);
    ASSERT_EQ(NSFBringDatabaseOnline(&abs[0], 0), NOERROR);
    ASSERT_EQ(NSFDbOpen("", &h), NOERROR);
    EXPECT_EQ(NSFDbClose(h), NOERROR);
    EXPECT_EQ(Field("names.nsf", "state"), "online");
}

// The report the tests rely on: each handle still open when the runtime
// stops, to the file the variable names and nowhere else.
TEST_F(ServerTest, HandlesLeftOpenAreReportedAtTermOnlyWhenAsked) {
    Init();
    ASSERT_EQ(Emu({"create", "mail/a.nsf"}), 0);
    std::string report = root_ + "/report";
    const char *listener = getenv("NOTESEMU_HANDLE_REPORT");
    std::string kept = listener ? listener : "";
    setenv("NOTESEMU_HANDLE_REPORT", report.c_str(), 1);
    ASSERT_EQ(Start(), NOERROR);
    DBHANDLE names = 0, mail = 0, closed = 0;
    ASSERT_EQ(NSFDbOpen("", &names), NOERROR);
    ASSERT_EQ(NSFDbOpen("", &closed), NOERROR);
    ASSERT_EQ(NSFDbOpen("mail/a.nsf", &mail), NOERROR);
    ASSERT_EQ(NSFDbClose(closed), NOERROR);
    NotesTerm();
    EXPECT_EQ(ReadFile(report), "database handle 1 still open at NotesTerm: " + dataDir_ + "/names.nsf\n"
                                "database handle 3 still open at NotesTerm: " + dataDir_ + "/mail/a.nsf\n");
    // A close that fails still releases the handle: nothing is left to leak.
    ASSERT_EQ(unlink(report.c_str()), 0);
    ASSERT_EQ(Start(), NOERROR);
    ASSERT_EQ(NSFDbOpen("", &names), NOERROR);
    setenv("NOTESEMU_FAIL", "NSFDbClose=4242", 1);
    EXPECT_EQ(NSFDbClose(names), 4242);
    unsetenv("NOTESEMU_FAIL");
    EXPECT_EQ(NSFDbClose(names), EMU_ERR_BAD_HANDLE);
    // Without the variable a leak goes unreported: never to a real user.
    unsetenv("NOTESEMU_HANDLE_REPORT");
    ASSERT_EQ(NSFDbOpen("", &names), NOERROR);
    NotesTerm();
    EXPECT_NE(access(report.c_str(), F_OK), 0);
    if (listener) setenv("NOTESEMU_HANDLE_REPORT", kept.c_str(), 1);
}

class ArchiveTest : public ServerTest {
protected:
    void Fill(int changes) {
        for (int i = 1; i <= changes; i++)
            Put("names.nsf", i, "n" + std::to_string(i), "2013-11-15T1" + std::to_string(i) + ":00:00Z");
    }
    std::vector<DWORD> Offered(STATUS *end) {
        std::vector<DWORD> got;
        UNID id;
        DWORD n;
        char path[1024];
        STATUS st = NSFGetFirstLogToArchive(&id, &n, path);
        while (st == NOERROR) {
            got.push_back(n);
            EXPECT_EQ(std::string(path), dataDir_ + "/logdir/" + emu::ExtentName(n));
            st = NSFGetNextLogToArchive(&id, &n, path);
        }
        *end = st;
        return got;
    }
};

TEST_F(ArchiveTest, BracketRulesAndFullExtentsInOrder) {
    Init();
    Fill(9);
    ASSERT_EQ(Start(), NOERROR);
    WORD style = 0;
    ASSERT_EQ(NSFGetTransLogStyle(&style), NOERROR);
    EXPECT_EQ(style, 1);
    UNID id;
    DWORD n = 1;
    char path[1024];
    EXPECT_EQ(NSFGetFirstLogToArchive(&id, &n, path), EMU_ERR_ARCHIVE_NOT_BEGUN);
    EXPECT_EQ(NSFEndArchivingLogs(), EMU_ERR_ARCHIVE_NOT_BEGUN);
    ASSERT_EQ(NSFBeginArchivingLogs(), NOERROR);
    EXPECT_EQ(NSFBeginArchivingLogs(), EMU_ERR_ARCHIVE_BUSY);
    // Not handed out yet: refused.
    EXPECT_EQ(NSFDoneArchivingLog(&id, &n), EMU_ERR_ARCHIVE_UNKNOWN_EXTENT);
    STATUS end;
    EXPECT_EQ(Offered(&end), (std::vector<DWORD>{1, 2}));
    EXPECT_EQ(end, EMU_NO_LOG_TO_ARCHIVE);
    ASSERT_EQ(NSFGetFirstLogToArchive(&id, &n, path), NOERROR);
    ASSERT_EQ(NSFDoneArchivingLog(&id, &n), NOERROR);
    UNID wrong = emu::RandomUnid();
    DWORD two = 2;
    EXPECT_EQ(NSFDoneArchivingLog(&wrong, &two), EMU_ERR_ARCHIVE_UNKNOWN_EXTENT);
    ASSERT_EQ(NSFEndArchivingLogs(), NOERROR);
    std::string logs;
    ASSERT_EQ(Emu({"logs"}, &logs), 0);
    EXPECT_EQ(logs, "S0000001.TXN\t4\tarchived\nS0000002.TXN\t4\tfull\nS0000003.TXN\t1\tcurrent\n");
    // The next bracket offers only what is still unarchived.
    ASSERT_EQ(NSFBeginArchivingLogs(), NOERROR);
    EXPECT_EQ(Offered(&end), (std::vector<DWORD>{2}));
    ASSERT_EQ(NSFEndArchivingLogs(), NOERROR);
}

// Runs fn in a child process, after `before` ran here; fn's result is the
// child's exit status.
static int InChild(const std::function<void()> &before, const std::function<int()> &fn) {
    int go[2];
    if (pipe(go) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        char c;
        close(go[1]);
        _exit(read(go[0], &c, 1) == 1 ? fn() : 99);
    }
    close(go[0]);
    before();
    if (write(go[1], "g", 1) != 1) return -1;
    close(go[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ArchiveTest, OneBracketPerServerAcrossProcesses) {
    Init();
    Fill(9);
    ASSERT_EQ(Start(), NOERROR);
    auto begin = [] { return NSFBeginArchivingLogs() == EMU_ERR_ARCHIVE_BUSY ? 1 : 0; };
    // Another process with a bracket open on this server is refused.
    EXPECT_EQ(1, InChild([] { ASSERT_EQ(NSFBeginArchivingLogs(), NOERROR); }, begin));
    ASSERT_EQ(NSFEndArchivingLogs(), NOERROR);
    EXPECT_EQ(0, InChild([] {}, begin));
    // A process that dies with its bracket open does not block the next.
    EXPECT_EQ(0, InChild([] {}, [] { return NSFBeginArchivingLogs() == NOERROR ? 0 : 1; }));
    EXPECT_EQ(NSFBeginArchivingLogs(), NOERROR);
    EXPECT_EQ(NSFEndArchivingLogs(), NOERROR);
}

TEST_F(ArchiveTest, OnlyArchiveStylesArchive) {
    for (const char *style : {"0", "2"}) {
        Init({"--style", style});
        ASSERT_EQ(Start(), NOERROR);
        WORD got = 9;
        ASSERT_EQ(NSFGetTransLogStyle(&got), NOERROR);
        EXPECT_EQ(got, atoi(style));
        EXPECT_EQ(NSFBeginArchivingLogs(), EMU_ERR_NOT_ARCHIVE_STYLE);
        NotesTerm();
        Run("rm -rf " + Quote(dataDir_));
    }
    Init({"--style", "3"});
    ASSERT_EQ(Start(), NOERROR);
    EXPECT_EQ(NSFBeginArchivingLogs(), NOERROR);
    NotesTerm();
    Run("rm -rf " + Quote(dataDir_));
    Init({"--logging", "off"});
    ASSERT_EQ(Start(), NOERROR);
    WORD got;
    EXPECT_EQ(NSFGetTransLogStyle(&got), EMU_LOGGING_OFF);
    EXPECT_EQ(NSFBeginArchivingLogs(), EMU_LOGGING_OFF);
}

TEST_F(ArchiveTest, ReusedExtentsPutBackFromTheArchiveServeARecovery) {
    Init();
    ASSERT_EQ(Emu({"backup", "names.nsf", root_ + "/bk.nsf"}), 0);
    Fill(9);
    ASSERT_EQ(Start(), NOERROR);
    ASSERT_EQ(NSFBeginArchivingLogs(), NOERROR);
    UNID id;
    DWORD n;
    char path[1024];
    mkdir((root_ + "/arch").c_str(), 0755);
    for (STATUS st = NSFGetFirstLogToArchive(&id, &n, path); st == NOERROR;
         st = NSFGetNextLogToArchive(&id, &n, path)) {
        ASSERT_EQ(emu::WriteFileAtomic(root_ + "/arch/" + emu::ExtentName(n) + "-x", ReadFile(path)), 0);
        ASSERT_EQ(NSFDoneArchivingLog(&id, &n), NOERROR);
    }
    ASSERT_EQ(NSFEndArchivingLogs(), NOERROR);
    std::string reused;
    ASSERT_EQ(Emu({"reuse"}, &reused), 0);
    EXPECT_EQ(reused, "S0000001.TXN\nS0000002.TXN\n");
    std::string bk = root_ + "/bk.nsf";
    EXPECT_EQ(NSFRecoverDatabases(&bk[0], nullptr, 0, nullptr, nullptr), EMU_ERR_LOG_GAP);
    for (const char *name : {"S0000001.TXN", "S0000002.TXN"})
        ASSERT_EQ(emu::WriteFileAtomic(dataDir_ + "/logdir/" + name,
                                       ReadFile(root_ + "/arch/" + name + "-x")), 0);
    ASSERT_EQ(NSFRecoverDatabases(&bk[0], nullptr, 0, nullptr, nullptr), NOERROR);
    EXPECT_EQ(Notes(bk), Notes("names.nsf"));
}

TEST_F(ServerTest, MissingLogControlIsRebuiltAtStartWhenAsked) {
    Init();
    for (int i = 1; i <= 6; i++) Put("names.nsf", i, "x", "2013-11-15T10:00:00Z");
    std::string ctl = dataDir_ + "/logdir/nlogctrl.lfh";
    std::string before = ReadFile(ctl);
    ASSERT_EQ(unlink(ctl.c_str()), 0);
    // Not asked: the start leaves it missing.
    ASSERT_EQ(Start(), NOERROR);
    NotesTerm();
    EXPECT_NE(access(ctl.c_str(), F_OK), 0);
    std::ofstream(ini_, std::ios::app) << "TRANSLOG_Recreate_Logctrl=1\n";
    ASSERT_EQ(Start(), NOERROR);
    emu::LogControl a, b;
    std::string after = ReadFile(ctl);
    ASSERT_EQ(emu::DecodeControl(before.data(), before.size(), &a), NOERROR);
    ASSERT_EQ(emu::DecodeControl(after.data(), after.size(), &b), NOERROR);
    EXPECT_TRUE(emu::UnidEqual(a.logId, b.logId));
    EXPECT_EQ(a.current, b.current);
    EXPECT_EQ(a.nextSeq, b.nextSeq);
    // And the server logs on where it stopped.
    Put("names.nsf", 7, "y", "2013-11-15T11:00:00Z");
    EXPECT_EQ(Field("names.nsf", "last-sequence"), "7");
}

TEST_F(ServerTest, ExtentsSpanSeveralFilesAndRollOver) {
    Init();
    for (int i = 1; i <= 5; i++) Put("names.nsf", i, "x", "2013-11-15T10:00:00Z");
    ASSERT_EQ(Emu({"rollover"}), 0);
    std::string logs;
    ASSERT_EQ(Emu({"logs"}, &logs), 0);
    EXPECT_EQ(logs, "S0000001.TXN\t4\tfull\nS0000002.TXN\t1\tfull\nS0000003.TXN\t0\tcurrent\n");
    EXPECT_EQ(Field("names.nsf", "last-extent"), "2");
}

}  // namespace

namespace {

// After a full restore of the data directory the control file is gone and
// every logged database is rolled forward from the surviving extents.
TEST_F(ServerTest, DisasterRestoreRecoversEveryLoggedDatabaseToTheLatestChange) {
    Init();
    ASSERT_EQ(Emu({"create", "mail/a.nsf"}), 0);
    ASSERT_EQ(Emu({"create", "plain.nsf", "--unlogged"}), 0);
    Put("mail/a.nsf", 1, "one", "2013-11-15T10:00:00Z");
    Put("names.nsf", 1, "dir", "2013-11-15T10:30:00Z");
    std::string saved = root_ + "/saved";
    ASSERT_EQ(Run("mkdir " + Quote(saved) + " && cp -a " + Quote(dataDir_) + "/names.nsf " +
                  Quote(dataDir_) + "/mail " + Quote(dataDir_) + "/plain.nsf " + Quote(saved)), 0);
    for (int i = 2; i <= 7; i++) Put("mail/a.nsf", i, "n", "2013-11-15T11:0" + std::to_string(i) + ":00Z");
    Put("names.nsf", 2, "dir2", "2013-11-15T12:00:00Z");
    std::string liveMail = Notes("mail/a.nsf"), liveNames = Notes("names.nsf");
    ASSERT_EQ(Run("cp -a " + Quote(saved) + "/. " + Quote(dataDir_)), 0);
    ASSERT_EQ(unlink((dataDir_ + "/logdir/nlogctrl.lfh").c_str()), 0);
    ASSERT_EQ(Start(), NOERROR);
    for (const char *db : {"names.nsf", "mail/a.nsf", "plain.nsf"}) {
        std::string path = dataDir_ + "/" + db;
        DBHANDLE h;
        ASSERT_EQ(NSFDbOpen(path.c_str(), &h), NOERROR);
        BOOL logged = FALSE;
        UNID logId, iid;
        DWORD extent;
        ASSERT_EQ(NSFDbGetLogInfo(h, 0, &logged, &logId, &iid, &extent), NOERROR);
        ASSERT_EQ(NSFDbClose(h), NOERROR);
        if (logged) EXPECT_EQ(NSFRecoverDatabases(&path[0], nullptr, 0, nullptr, nullptr), NOERROR) << db;
        else EXPECT_STREQ(db, "plain.nsf");
    }
    EXPECT_EQ(Notes("mail/a.nsf"), liveMail);
    EXPECT_EQ(Notes("names.nsf"), liveNames);
}

}  // namespace
