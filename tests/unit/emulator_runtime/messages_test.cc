// The message table behind OSLoadString.
#include <stdlib.h>
#include <string.h>

#include "gtest/gtest.h"
#include "notesapi/notesapi.h"
#include "runtime/messages.h"

namespace {

TEST(MessageTable, EveryEmulatorStatusHasItsText) {
    unsetenv("NOTESEMU_FAIL");
    struct Entry {
        STATUS code;
        const char *text;
    };
    const Entry table[] = {
#define ENTRY(name, code, text) {code, text},
        NOTESEMU_STATUSES(ENTRY)
#undef ENTRY
    };
    for (const Entry &e : table) {
        char buf[4096];
        WORD n = OSLoadString(nullptr, e.code & 0x3FFF, buf, sizeof buf);
        EXPECT_STREQ(buf, e.text) << e.code;
        EXPECT_EQ(n, strlen(e.text));
        EXPECT_NE(n, 0) << "status " << e.code << " has no text";
    }
    char buf[4096];
    OSLoadString(nullptr, 5113, buf, sizeof buf);
    EXPECT_STREQ(buf, "Database is not in use by a running server");
}

TEST(MessageTable, UnknownCodesGiveAnEmptyTextOverAnyOldContents) {
    char buf[4096];
    strcpy(buf, "QMR_NSF_SUCCESS");
    EXPECT_EQ(OSLoadString(nullptr, 0x3FFF, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "QMR_NSF_SUCCESS");
    EXPECT_EQ(OSLoadString(nullptr, 0, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    // The table is keyed by the code alone: the caller masks the flag bits.
    for (STATUS flags : {0x4000, 0x8000, 0xC000}) {
        strcpy(buf, "QMR_NSF_SUCCESS");
        EXPECT_EQ(OSLoadString(nullptr, static_cast<STATUS>(flags | 5113), buf, sizeof buf), 0);
        EXPECT_STREQ(buf, "") << flags;
    }
}

TEST(MessageTable, TextIsCutToTheBuffer) {
    char buf[8];
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(OSLoadString(nullptr, EMU_ERR_BAD_TIME, buf, 5), 4);
    EXPECT_STREQ(buf, "Unab");
    EXPECT_EQ(buf[5], '#');
    EXPECT_EQ(OSLoadString(nullptr, EMU_ERR_BAD_TIME, buf, 1), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(OSLoadString(nullptr, EMU_ERR_BAD_TIME, nullptr, 10), 0);
    buf[0] = '#';
    EXPECT_EQ(OSLoadString(nullptr, EMU_ERR_BAD_TIME, buf, 0), 0);
    EXPECT_EQ(buf[0], '#');  // a zero-length buffer is never written
}

}  // namespace
