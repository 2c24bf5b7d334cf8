// NOTESEMU_FAIL: which calls fail, when, and with which status.
#include <stdlib.h>
#include <string.h>

#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "notesapi/notesapi.h"
#include "runtime/fault.h"
#include "runtime/messages.h"
#include "runtime/runtime.h"

namespace {

class FaultInjection : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("NOTESEMU_FAIL"); }
    static void Set(const char *rules) { setenv("NOTESEMU_FAIL", rules, 1); }
    static STATUS Fault(const char *call) {
        STATUS st = 0;
        return emu::InjectedFault(call, &st) ? st : 0;
    }
};

// Each row sets NOTESEMU_FAIL (null: unsets it), then asks the calls in
// order; consecutive rows show that a new value starts a new count.
TEST_F(FaultInjection, WhichCallFailsWhenAndWithWhichStatus) {
    const struct {
        const char *rules;
        std::vector<std::pair<const char *, STATUS>> calls;
    } kRows[] = {
        // A bare name fails every call, "#n" only the n-th; names are exact.
        {"NSFTakeDatabaseOffline=5113,NSFGetNextLogToArchive#2=1234",
         {{"NSFTakeDatabaseOffline", 5113}, {"NSFTakeDatabaseOffline", 5113},
          {"NSFGetNextLogToArchive", 0}, {"NSFGetNextLogToArchive", 1234},
          {"NSFGetNextLogToArchive", 0}, {"NSFGetFirstLogToArchive", 0},
          {"nsftakedatabaseoffline", 0}}},
        // Decimal or hex, blanks allowed.
        {" A = 0x13F9 , B#1=0X10f,C=65535", {{"A", 0x13F9}, {"B", 0x010F}, {"C", 65535}}},
        // Malformed entries are ignored; the rest still apply.
        {"=5,Bare,X=,X=abc,X=0,X=65536,X#0=7,X#=7,X#two=7,X=0x,X=12a,,Y=9",
         {{"X", 0}, {"Bare", 0}, {"", 0}, {"Y", 9}}},
        // The first matching entry wins.
        {"Z#2=2,Z=1", {{"Z", 1}, {"Z", 2}, {"Z", 1}}},
        {"W#2=77", {{"W", 0}, {"W", 77}}},
        {"W#2=78", {{"W", 0}, {"W", 78}}},
        {nullptr, {{"W", 0}}},
        {"", {{"W", 0}}},
    };
    for (const auto &row : kRows) {
        if (row.rules != nullptr)
            Set(row.rules);
        else
            unsetenv("NOTESEMU_FAIL");
        for (const auto &[call, status] : row.calls)
            EXPECT_EQ(status, Fault(call)) << (row.rules ? row.rules : "(unset)") << ": " << call;
    }
    EXPECT_FALSE(emu::InjectedFault(nullptr, nullptr));
}

// The injected fault is asked for first, so a call made while the runtime is
// stopped still counts for "#n" and fails with the injected status.
TEST_F(FaultInjection, AnInjectedFaultComesBeforeTheStoppedRuntimesStatus) {
    ASSERT_FALSE(emu::Started());
    Set("NSFDbOpen#2=0x1234,NSFBeginArchivingLogs=77");
    DBHANDLE db = 0;
    EXPECT_EQ(NSFDbOpen("names.nsf", &db), EMU_ERR_NOT_STARTED);
    EXPECT_EQ(NSFDbOpen("names.nsf", &db), 0x1234);
    EXPECT_EQ(NSFBeginArchivingLogs(), 77);
    EXPECT_EQ(NSFGetTransLogStyle(nullptr), EMU_ERR_NOT_STARTED);
}

TEST_F(FaultInjection, RuntimeCallsFailTheirOwnWay) {
    Set("NotesInitExtended=0x0103,OSGetEnvironmentString=9,OSTranslate=9,OSLoadString=9,"
        "ConvertTextToTIMEDATE#1=0x10F,TimeGMToLocal=9,TimeLocalToGM=9,ConvertTIMEDATEToText=42");
    char program[] = "";
    char ini[] = "=/nonexistent/notes.ini";
    char *argv[] = {program, ini};
    EXPECT_EQ(NotesInitExtended(2, argv), 0x0103);
    EXPECT_FALSE(emu::Started());
    char buf[64] = "old";
    EXPECT_FALSE(OSGetEnvironmentString("Directory", buf, 63));
    EXPECT_STREQ(buf, "");
    strcpy(buf, "old");
    EXPECT_EQ(OSTranslate(0, "abc", 3, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "old");
    EXPECT_EQ(OSLoadString(nullptr, EMU_ERR_BAD_TIME, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");

    char text[] = "11/15/2013 13:00";
    char *p = text;
    TIMEDATE td;
    EXPECT_EQ(ConvertTextToTIMEDATE(nullptr, nullptr, &p, sizeof text - 1, &td), 0x10F);
    EXPECT_EQ(p, text);
    EXPECT_EQ(ConvertTextToTIMEDATE(nullptr, nullptr, &p, sizeof text - 1, &td), NOERROR);
    TIME t;
    memset(&t, 0, sizeof t);
    EXPECT_FALSE(TimeGMToLocal(&t));
    EXPECT_FALSE(TimeLocalToGM(&t));
    WORD len = 99;
    strcpy(buf, "old");
    EXPECT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &td, buf, sizeof buf, &len), 42);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(len, 0);
}

}  // namespace
