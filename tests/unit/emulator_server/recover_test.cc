// Rolling a backup copy forward through the extents: point in time, flags,
// the note callback, and all-or-nothing failures.
#include <sys/stat.h>

#include "server_fixture.h"

namespace {

class RecoverTest : public ServerTest {
protected:
    // mail/a.nsf gets 1..3, is backed up, then changes on across three
    // extents (four records each), with one change of names.nsf in between.
    void SetUp() override {
        ServerTest::SetUp();
        Init();
        ASSERT_EQ(Emu({"create", "mail/a.nsf"}), 0);
        Put("mail/a.nsf", 1, "one", "2013-11-15T10:00:00Z");
        Put("mail/a.nsf", 2, "two", "2013-11-15T11:00:00Z");
        Put("mail/a.nsf", 3, "three", "2013-11-15T12:00:00Z");
        backup_ = root_ + "/bk.nsf";
        ASSERT_EQ(Emu({"backup", "mail/a.nsf", backup_}), 0);
        atBackup_ = Notes(backup_);
        bytes_ = ReadFile(backup_);
        Put("mail/a.nsf", 4, "four", "2013-11-15T13:00:00Z");
        Put("names.nsf", 1, "directory", "2013-11-15T13:30:00Z");
        Put("mail/a.nsf", 1, "one v2", "2013-11-15T14:00:00Z", "bob");
        ASSERT_EQ(Emu({"delete", "mail/a.nsf", "2", "--at", "2013-11-15T15:00:00Z"}), 0);
        ASSERT_EQ(Emu({"abort", "mail/a.nsf", "3", "rolled back", "--at", "2013-11-15T16:00:00Z"}), 0);
        Put("mail/a.nsf", 5, "five", "2013-11-15T17:00:00Z");
        ASSERT_EQ(Start(), NOERROR);
    }

    STATUS Recover(DWORD flags, TIMEDATE *when, NOTE_CALLBACK cb = nullptr, void *ctx = nullptr) {
        std::string path = backup_;
        WORD index = 9;
        STATUS st = cb ? NSFRecoverDatabasesWithCallback(&path[0], nullptr, flags, &index, when, cb, ctx)
                       : NSFRecoverDatabases(&path[0], nullptr, flags, &index, when);
        EXPECT_EQ(index, 0);
        return st;
    }

    // A recovery to the latest change fails with `want` and leaves the
    // backup as it was.
    void ExpectRefused(STATUS want, const std::string &why = "") {
        EXPECT_EQ(Recover(0, nullptr), want) << why;
        EXPECT_EQ(ReadFile(backup_), bytes_) << why;
    }

    std::string backup_, atBackup_, bytes_;  // bytes_: the backup as taken
};

TEST_F(RecoverTest, ToLatestReproducesTheLiveDatabaseAndKeepsItsIdentity) {
    ASSERT_EQ(Recover(0, nullptr), NOERROR);
    EXPECT_EQ(Notes(backup_), Notes("mail/a.nsf"));
    EXPECT_EQ(Field(backup_, "instance-id"), Field("mail/a.nsf", "instance-id"));
    EXPECT_EQ(Field(backup_, "replica-id"), Field("mail/a.nsf", "replica-id"));
    EXPECT_EQ(Field(backup_, "last-sequence"), "9");
    // Rolled forward already: a second run has nothing to replay.
    std::string before = ReadFile(backup_);
    ASSERT_EQ(Recover(0, nullptr), NOERROR);
    EXPECT_EQ(ReadFile(backup_), before);
}

// A cut-off replays every change up to it, and the caller learns the real
// recovery point: the last change replayed, or the cut-off when none was.
TEST_F(RecoverTest, CutOffReplaysUpToItAndReportsTheLastChangeReplayed) {
    const std::string one2 = "1\t2013-11-15T14:00:00Z\tbob\tone v2\n",
                      two = "2\t2013-11-15T11:00:00Z\tadmin\ttwo\n",
                      three = "3\t2013-11-15T12:00:00Z\tadmin\tthree\n",
                      four = "4\t2013-11-15T13:00:00Z\tadmin\tfour\n";
    const struct {
        const char *cutOff;
        std::string notes;
        const char *reported;
    } cases[] = {
        {"2013-11-15T12:30:00Z", atBackup_, "2013-11-15T12:30:00Z"},  // before any change
        {"2013-11-15T14:30:00Z", one2 + two + three + four, "2013-11-15T14:00:00Z"},
        {"2013-11-15T15:00:00Z", one2 + three + four, "2013-11-15T15:00:00Z"},  // 2 deleted at 15:00
        {"2013-11-16T00:00:00Z", Notes("mail/a.nsf"), "2013-11-15T17:00:00Z"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(emu::WriteFileAtomic(backup_, bytes_), 0);
        TIMEDATE when = At(c.cutOff);
        ASSERT_EQ(Recover(RECOVER_TO_TIME, &when), NOERROR) << c.cutOff;
        EXPECT_EQ(Notes(backup_), c.notes) << c.cutOff;
        EXPECT_EQ(emu::FormatIsoUtc(emu::TimeDateHundredths(when)), c.reported) << c.cutOff;
        // Replayed to a point in time, the history forks from the logged
        // one: a new instance ID.
        const bool forked = Field(backup_, "instance-id") != Field("mail/a.nsf", "instance-id");
        EXPECT_TRUE(forked || c.notes == atBackup_) << c.cutOff;
    }
}

TEST_F(RecoverTest, CutOffBeforeTheBackupsOwnLastChangeIsRefused) {
    for (const char *iso : {"2013-11-15T11:59:59.99Z", "2013-11-15T10:30:00Z", "1970-01-01T00:00:00Z"}) {
        TIMEDATE when = At(iso);
        EXPECT_EQ(Recover(RECOVER_TO_TIME, &when), EMU_ERR_CUTOFF_BEFORE_BACKUP) << iso;
        EXPECT_EQ(emu::TimeDateHundredths(when), emu::TimeDateHundredths(At(iso))) << iso;
        EXPECT_EQ(ReadFile(backup_), bytes_) << iso;
    }
    // Exactly at the backup's last change is where it already stands.
    TIMEDATE when = At("2013-11-15T12:00:00Z");
    EXPECT_EQ(Recover(RECOVER_TO_TIME | RECOVER_THIRD_OPTION, &when), NOERROR);
    EXPECT_EQ(Notes(backup_), atBackup_);
}

TEST_F(RecoverTest, FlagsChooseTheIdentityOfTheRecoveredFile) {
    struct Case {
        DWORD flags;
        bool newIid, newReplica;
    } cases[] = {
        {RECOVER_NEW_INSTANCE_ID, true, false},
        {RECOVER_NEW_REPLICA_ID, false, true},
        {RECOVER_THIRD_OPTION, false, false},
        {RECOVER_TO_TIME, true, false},
        {RECOVER_TO_TIME | RECOVER_NEW_REPLICA_ID, true, true},
        // The third option keeps the instance ID even at a point in time.
        {RECOVER_TO_TIME | RECOVER_THIRD_OPTION, false, false},
        {RECOVER_NEW_INSTANCE_ID | RECOVER_THIRD_OPTION, false, false},
    };
    std::string original = ReadFile(backup_);
    std::string iid = Field(backup_, "instance-id"), rid = Field(backup_, "replica-id");
    for (const Case &c : cases) {
        ASSERT_EQ(emu::WriteFileAtomic(backup_, original), 0);
        TIMEDATE when = At("2013-11-16T00:00:00Z");
        ASSERT_EQ(Recover(c.flags, (c.flags & RECOVER_TO_TIME) ? &when : nullptr), NOERROR);
        EXPECT_EQ(Field(backup_, "instance-id") != iid, c.newIid) << "flags " << c.flags;
        EXPECT_EQ(Field(backup_, "replica-id") != rid, c.newReplica) << "flags " << c.flags;
        EXPECT_EQ(Notes(backup_), Notes("mail/a.nsf")) << "flags " << c.flags;
    }
}

struct Seen {
    std::vector<DWORD> actions, ids;
    std::vector<std::string> users, files;
    std::vector<int64_t> times;
    size_t abortAt = 0;
};

STATUS Collect(DWORD action, void *context, NOTE_RECOVERY_INFO *info) {
    Seen *seen = static_cast<Seen *>(context);
    seen->actions.push_back(action);
    seen->ids.push_back(info->NoteID);
    seen->users.push_back(info->UserName);
    seen->files.push_back(info->BackupFileName);
    seen->times.push_back(emu::TimeDateHundredths(info->StartTime));
    EXPECT_EQ(info->InfoSize, sizeof(NOTE_RECOVERY_INFO));
    return seen->actions.size() == seen->abortAt ? 77 : NOERROR;
}

TEST_F(RecoverTest, CallbackSeesEveryChangeInOrderWithItsAction) {
    Seen seen;
    ASSERT_EQ(Recover(0, nullptr, Collect, &seen), NOERROR);
    EXPECT_EQ(seen.actions, (std::vector<DWORD>{RECOVER_ACTION_ADDITION, RECOVER_ACTION_UPDATE,
                                                 RECOVER_ACTION_DELETION, RECOVER_ACTION_UNDO,
                                                 RECOVER_ACTION_ADDITION}));
    EXPECT_EQ(seen.ids, (std::vector<DWORD>{4, 1, 2, 3, 5}));
    EXPECT_EQ(seen.users[1], "bob");
    EXPECT_EQ(seen.files[0], backup_);
    EXPECT_EQ(seen.times[0], emu::TimeDateHundredths(At("2013-11-15T13:00:00Z")));
    // The rolled-back change leaves note 3 as it was.
    EXPECT_NE(Notes(backup_).find("3\t2013-11-15T12:00:00Z\tadmin\tthree\n"), std::string::npos);
}

TEST_F(RecoverTest, CallbackAbortReturnsItsStatusAndLeavesTheFileUntouched) {
    Seen seen;
    seen.abortAt = 3;
    EXPECT_EQ(Recover(0, nullptr, Collect, &seen), 77);
    EXPECT_EQ(seen.actions.size(), 3u);
    EXPECT_EQ(ReadFile(backup_), bytes_);
}

TEST_F(RecoverTest, MissingOrDamagedExtentsFailWithoutTouchingTheFile) {
    std::string logDir = dataDir_ + "/logdir/";
    // A hole in the middle of the chain.
    ASSERT_EQ(rename((logDir + "S0000002.TXN").c_str(), (root_ + "/S2").c_str()), 0);
    ExpectRefused(EMU_ERR_LOG_GAP);
    ASSERT_EQ(rename((root_ + "/S2").c_str(), (logDir + "S0000002.TXN").c_str()), 0);
    // The newest extent missing: the log control file says more was logged.
    ASSERT_EQ(rename((logDir + "S0000003.TXN").c_str(), (root_ + "/S3").c_str()), 0);
    ExpectRefused(EMU_ERR_LOG_GAP);
    // ...but a cut-off inside what is there needs nothing from it.
    TIMEDATE when = At("2013-11-15T14:30:00Z");
    EXPECT_EQ(Recover(RECOVER_TO_TIME | RECOVER_THIRD_OPTION, &when), NOERROR);
    ASSERT_EQ(emu::WriteFileAtomic(backup_, bytes_), 0);
    ASSERT_EQ(rename((root_ + "/S3").c_str(), (logDir + "S0000003.TXN").c_str()), 0);
    // A flipped byte in a needed record.
    std::string ext = ReadFile(logDir + "S0000002.TXN");
    ext[ext.size() - 3] ^= 0x20;
    ASSERT_EQ(emu::WriteFileAtomic(logDir + "S0000002.TXN", ext), 0);
    ExpectRefused(EMU_ERR_LOG_CORRUPT);
}

// After a full restore the control file is gone and is rebuilt from the
// extents; the extents alone must still show what is missing.
TEST_F(RecoverTest, WithoutTheControlFileALostOrCutExtentIsStillAGap) {
    // Extents: 1 = seq 1..4, 2 = 5..8, 3 = 9, 4 = empty and current.
    ASSERT_EQ(Emu({"rollover"}), 0);
    std::string logDir = dataDir_ + "/logdir/";
    ASSERT_EQ(unlink((logDir + "nlogctrl.lfh").c_str()), 0);
    std::string third = ReadFile(logDir + "S0000003.TXN");
    // 2 and 4 present, 3 lost: the numbers break, and 4 begins after a record
    // that no extent holds.
    ASSERT_EQ(unlink((logDir + "S0000003.TXN").c_str()), 0);
    ExpectRefused(EMU_ERR_LOG_GAP);
    // 3 cut at a record boundary (it still reads as a valid, shorter extent).
    ASSERT_EQ(emu::WriteFileAtomic(logDir + "S0000003.TXN", third.substr(0, 44)), 0);
    ExpectRefused(EMU_ERR_LOG_GAP);
    // A cut-off before the loss needs nothing from it.
    TIMEDATE when = At("2013-11-15T14:30:00Z");
    EXPECT_EQ(Recover(RECOVER_TO_TIME | RECOVER_THIRD_OPTION, &when), NOERROR);
    EXPECT_EQ(Field(backup_, "last-sequence"), "6");
    // Whole again, the rebuilt log serves the full recovery.
    ASSERT_EQ(emu::WriteFileAtomic(backup_, bytes_), 0);
    ASSERT_EQ(emu::WriteFileAtomic(logDir + "S0000003.TXN", third), 0);
    ASSERT_EQ(Recover(0, nullptr), NOERROR);
    EXPECT_EQ(Notes(backup_), Notes("mail/a.nsf"));
}

TEST_F(RecoverTest, AnExtentLostBetweenOthersIsAGapWhateverItHeld) {
    // Extent 4 holds only a change of names.nsf, 5 nothing (rolled over
    // empty); mail/a.nsf goes on in 6.
    ASSERT_EQ(Emu({"rollover"}), 0);
    Put("names.nsf", 2, "directory 2", "2013-11-15T17:30:00Z");
    ASSERT_EQ(Emu({"rollover"}), 0);
    ASSERT_EQ(Emu({"rollover"}), 0);
    Put("mail/a.nsf", 6, "six", "2013-11-15T18:00:00Z");
    std::string logDir = dataDir_ + "/logdir/";
    ASSERT_EQ(unlink((logDir + "nlogctrl.lfh").c_str()), 0);
    for (const char *lost : {"S0000004.TXN", "S0000005.TXN"}) {
        std::string kept = ReadFile(logDir + lost);
        ASSERT_EQ(unlink((logDir + lost).c_str()), 0);
        ExpectRefused(EMU_ERR_LOG_GAP, lost);
        ASSERT_EQ(emu::WriteFileAtomic(logDir + lost, kept), 0);
    }
    ASSERT_EQ(Recover(0, nullptr), NOERROR);
    EXPECT_EQ(Notes(backup_), Notes("mail/a.nsf"));
}

TEST_F(RecoverTest, ALogThatEndsBeforeTheBackupsOwnLastChangeIsAGap) {
    // A backup taken at the end (sequence 9, in extent 3) and a restored log
    // that only reaches extent 2.
    std::string late = root_ + "/late.nsf";
    ASSERT_EQ(Emu({"backup", "mail/a.nsf", late}), 0);
    std::string logDir = dataDir_ + "/logdir/";
    ASSERT_EQ(unlink((logDir + "nlogctrl.lfh").c_str()), 0);
    ASSERT_EQ(unlink((logDir + "S0000003.TXN").c_str()), 0);
    std::string before = ReadFile(late);
    EXPECT_EQ(NSFRecoverDatabases(&late[0], nullptr, 0, nullptr, nullptr), EMU_ERR_LOG_GAP);
    EXPECT_EQ(ReadFile(late), before);
}

TEST_F(RecoverTest, ARelativeBackupPathIsTakenFromTheCurrentDirectory) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    char name[] = "bk.nsf";
    STATUS st = NSFRecoverDatabases(name, nullptr, 0, nullptr, nullptr);
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_EQ(st, NOERROR);
    EXPECT_EQ(Notes(backup_), Notes("mail/a.nsf"));
}

TEST_F(RecoverTest, UnrecoverableFilesAreStatuses) {
    ASSERT_EQ(Emu({"create", "plain.nsf", "--unlogged"}), 0);
    std::string plain = dataDir_ + "/plain.nsf", missing = root_ + "/none.nsf";
    EXPECT_EQ(NSFRecoverDatabases(&plain[0], nullptr, 0, nullptr, nullptr), EMU_ERR_NOT_LOGGED);
    EXPECT_EQ(NSFRecoverDatabases(&missing[0], nullptr, 0, nullptr, nullptr), EMU_ERR_FILE_NOT_FOUND);
    std::string garbage = root_ + "/garbage.nsf";
    ASSERT_EQ(emu::WriteFileAtomic(garbage, ReadFile(backup_).substr(0, 100)), 0);
    EXPECT_EQ(NSFRecoverDatabases(&garbage[0], nullptr, 0, nullptr, nullptr), EMU_ERR_DB_CORRUPT);
    setenv("NOTESEMU_FAIL", "NSFRecoverDatabases=4321", 1);
    std::string bk = backup_;
    EXPECT_EQ(NSFRecoverDatabases(&bk[0], nullptr, 0, nullptr, nullptr), 4321);
}

}  // namespace
