// What the cut-off format records make of a text, and the per-note report of
// note mode.
#include "recovery/recover_db.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/captured_stdout.h"
#include "common/emulated_server.h"

namespace {

// An emulated server started in this process, for the calls that need the
// runtime (time conversion).
class StartedRuntime : public EmulatedServer {
protected:
    void SetUp() override {
        EmulatedServer::SetUp();
        ASSERT_NO_FATAL_FAILURE(StartServer());
        char *text = const_cast<char *>("11/15/2013 13:00");
        ASSERT_EQ(NOERROR, ConvertTextToTIMEDATE(&intl_format, &tfmt, &text, 16, &when_));
        char buffer[80] = {0};
        WORD length = 0;
        ASSERT_EQ(NOERROR, ConvertTIMEDATEToText(nullptr, nullptr, &when_, buffer, 79, &length));
        whenText_.assign(buffer, length);
    }

    NOTE_RECOVERY_INFO note(DWORD id, DWORD handle, const char *user) {
        NOTE_RECOVERY_INFO info;
        memset(&info, 0, sizeof(info));
        info.InfoSize = sizeof(info);
        info.NoteID = id;
        info.NoteHandle = handle;
        info.StartTime = when_;
        info.UserName = user;
        info.BackupFileName = "/backup/mail.nsf";
        return info;
    }

    TIMEDATE when_;
    std::string whenText_;
};

// What the format records make of a cut-off text: month first, a 24-hour
// clock, all four digits of the year.
TEST_F(StartedRuntime, CutOffTextIsReadMonthFirstOnATwentyFourHourClock) {
    auto read = [](const std::string &text, TIME *broken) {
        char *p = const_cast<char *>(text.c_str());
        memset(broken, 0, sizeof *broken);
        STATUS status = ConvertTextToTIMEDATE(&intl_format, &tfmt, &p, (WORD)text.size(),
                                              &broken->GM);
        if (status == NOERROR && !TimeGMToLocal(broken)) status = 1;
        return status;
    };
    TIME t;
    ASSERT_EQ(NOERROR, read("02/01/2013 13:05:09", &t));
    EXPECT_EQ((std::vector<int>{2013, 2, 1, 13, 5, 9}),
              (std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}));
    // Day first there is no thirteenth month; a two-digit year is not
    // enough; a 12-hour time with its marker is not the program's format.
    EXPECT_NE(NOERROR, read("13/01/2013 13:05", &t));
    EXPECT_NE(NOERROR, read("02/01/13 13:05", &t));
    EXPECT_NE(NOERROR, read("02/01/2013 01:05 PM", &t));
}

// The cut-off as the recovery reads it, for the preflight to show back: the
// typed calendar reading, taken as GMT+0 whatever the zone the runtime shows
// times in.
TEST_F(StartedRuntime, CutOffIsTheTypedReadingInGmtWhateverTheLocalZone) {
    const char *savedTz = getenv("TZ");
    const std::string saved = savedTz != nullptr ? savedTz : "";
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
    TIMEDATE cutOff;
    TIME reading;
    const STATUS status = nsfmend::parseCutOffTime("11/15/2013 13:00", &cutOff, &reading);
    TIME gmt;
    memset(&gmt, 0, sizeof gmt);
    gmt.year = 2013, gmt.month = 11, gmt.day = 15, gmt.hour = 13;
    const BOOL made = TimeLocalToGM(&gmt);  // zone 0, no daylight saving
    setenv("TZ", saved.c_str(), 1);
    tzset();

    ASSERT_EQ(NOERROR, status);
    EXPECT_EQ((std::vector<int>{2013, 11, 15, 13, 0, 0, 0, 0}),
              (std::vector<int>{reading.year, reading.month, reading.day, reading.hour,
                                reading.minute, reading.second, reading.zone, reading.dst}));
    ASSERT_TRUE(made);
    EXPECT_EQ(0, memcmp(&gmt.GM, &cutOff, sizeof cutOff));
}

TEST_F(StartedRuntime, ACutOffThatDoesNotParseGivesTheStatusTheRecoveryReturns) {
    TIMEDATE cutOff;
    const STATUS status = nsfmend::parseCutOffTime("13/45/2013 25:00", &cutOff, nullptr);
    EXPECT_NE(NOERROR, status);
    // The recovery stops at the same status, before it opens the file.
    CapturedStdout out;
    EXPECT_EQ((int)status, RecoverDbs("/no/such/backup.nsf", "13/45/2013 25:00", 0, 0, 0, 0));
    EXPECT_EQ("", out.text());
    // Read once for a run: the same status, and no cut-off for no text.
    nsfmend::CutOff read;
    EXPECT_EQ(status, nsfmend::readCutOff("13/45/2013 25:00", &read));
    EXPECT_FALSE(read.given);
    for (const char *none : {static_cast<const char *>(nullptr), ""}) {
        EXPECT_EQ(NOERROR, nsfmend::readCutOff(none, &read));
        EXPECT_FALSE(read.given);
    }
}

TEST_F(StartedRuntime, NoteReportIsNineLinesWithHexIdAndSignedHandle) {
    NOTE_RECOVERY_INFO info = note(0xFFFFFFFFu, 0xFFFFFFFEu, "Ann Admin");
    CapturedStdout out;
    EXPECT_EQ(NOERROR, NoteCallback(RECOVER_ACTION_ADDITION, nullptr, &info));
    out.restore();
    EXPECT_EQ("[nsfmend.NoteCallback] \n"
              "\tNote information for backup file /backup/mail.nsf\n"
              "\t\tStarted at: " + whenText_ + "\n"
              "\t\tInfoSize: " + std::to_string(sizeof(info)) + "\n"
              "\t\tNoteID: FFFFFFFF\n"
              "\t\tNoteHandle: -2\n"
              "\t\tUser Name: Ann Admin\n"
              "\t\tAction: Addition\n"
              "\t\tFinished at\n",
              out.text());
}

TEST_F(StartedRuntime, ActionCodeIsOneValueNotASetOfBits) {
    const std::pair<DWORD, const char *> cases[] = {
        {1, "Update"}, {2, "Addition"}, {4, "Deletion"}, {8, "Undo"},
        {0, "Unknown"}, {3, "Unknown"}, {16, "Unknown"}, {0xFFFFFFFFu, "Unknown"}};
    for (const auto &[code, name] : cases) {
        NOTE_RECOVERY_INFO info = note(0x2A, 7, "u");
        CapturedStdout out;
        EXPECT_EQ(NOERROR, NoteCallback(code, nullptr, &info));
        out.restore();
        const std::string text = out.text();
        EXPECT_NE(std::string::npos, text.find("\t\tNoteID: 2A\n")) << text;
        EXPECT_NE(std::string::npos, text.find(std::string("\t\tAction: ") + name + "\n"))
            << code << ": " << text;
    }
}

TEST_F(StartedRuntime, OverlongUserNameIsCutToTheReportBuffer) {
    const std::string user(6000, 'U');
    NOTE_RECOVERY_INFO info = note(1, 1, user.c_str());
    CapturedStdout out;
    EXPECT_EQ(NOERROR, NoteCallback(RECOVER_ACTION_UPDATE, nullptr, &info));
    out.restore();
    const std::string text = out.text();
    const std::string prefix = "[nsfmend.NoteCallback] ";
    // The report keeps 4095 characters and its terminator; the rest is dropped.
    ASSERT_EQ(prefix.size() + 4095 + 1, text.size());
    EXPECT_EQ(prefix + "\n\tNote information for backup file /backup/mail.nsf\n", text.substr(0, prefix.size() + 52));
    EXPECT_EQ(std::string(100, 'U') + "\n", text.substr(text.size() - 101));
    EXPECT_EQ(std::string::npos, text.find("Action:"));
}

}  // namespace
