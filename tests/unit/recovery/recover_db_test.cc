// The cut-off format records and the per-note report of note mode.
#include "recovery/recover_db.h"

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/captured_stdout.h"
#include "common/emulated_server.h"

namespace {

TEST(CutOffFormat, RecordsHoldTheBytesTheApiReads) {
    unsigned char expected[140];
    memset(expected, 0, sizeof(expected));
    const unsigned char head[] = {0x2c, 0x01, 2, 140, 0, 0, 0, 0};
    memcpy(expected, head, sizeof(head));
    const char *shortTexts[] = {"AM", "PM", "$", ",", ".", "/", ":"};
    for (int i = 0; i < 7; ++i) memcpy(expected + 8 + 5 * i, shortTexts[i], strlen(shortTexts[i]));
    const char *words[] = {"Yesterday", "Today", "Tomorrow"};
    for (int i = 0; i < 3; ++i) memcpy(expected + 43 + 32 * i, words[i], strlen(words[i]));
    EXPECT_EQ(0, memcmp(expected, &intl_format, sizeof(expected)));

    const unsigned char format[] = {0, 0, 0, 2};
    EXPECT_EQ(0, memcmp(format, &tfmt, sizeof(format)));
}

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
