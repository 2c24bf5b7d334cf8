#include "support/text.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include <string>

TEST(ArgumentMatching, PrefixIsCaseSensitiveAndWholeKey) {
    EXPECT_EQ(1, isStartsWith("OPT=", "OPT="));
    EXPECT_EQ(1, isStartsWith("OPT=", "OPT=RECOVER"));
    EXPECT_EQ(0, isStartsWith("OPT=", "OPT"));
    EXPECT_EQ(0, isStartsWith("OPT=", "opt=RECOVER"));
    EXPECT_EQ(1, isStartsWith("", "anything"));
    EXPECT_EQ(1, isStartsWith("", ""));
}

TEST(ArgumentMatching, ValueFitsWholeOrIsDropped) {
    char dest[1024];
    memset(dest, 'x', sizeof dest);
    substring("IN=", "IN=", dest, sizeof dest);
    EXPECT_STREQ("", dest);

    substring("IN=", "IN=/a/b.nsf", dest, sizeof dest);
    EXPECT_STREQ("/a/b.nsf", dest);

    std::string exact = "IN=" + std::string(1023, 'a');
    substring("IN=", exact.c_str(), dest, sizeof dest);
    EXPECT_EQ(1023u, strlen(dest));

    // Too long for the field: dropped whole rather than cut to a wrong path.
    std::string tooLong = "IN=" + std::string(1024, 'a');
    memset(dest, 'x', sizeof dest);
    substring("IN=", tooLong.c_str(), dest, sizeof dest);
    EXPECT_STREQ("", dest);

    substring("DATETIME=", "IN=", dest, sizeof dest);
    EXPECT_STREQ("", dest);
}

TEST(ArgumentMatching, SubstringNeverWritesPastSize) {
    char guard[16];
    memset(guard, '#', sizeof guard);
    substring("K=", "K=abcdefgh", guard, 8);  // 8 bytes is too many for 8
    EXPECT_EQ('\0', guard[0]);
    for (int i = 8; i < 16; i++) EXPECT_EQ('#', guard[i]);
    substring("K=", "K=abcdefg", guard, 8);
    EXPECT_STREQ("abcdefg", guard);
    EXPECT_EQ('#', guard[8]);
}

TEST(PathJoining, OneSlashBetweenParts) {
    struct Case {
        const char *dir, *name, *want;
    } cases[] = {
        {"", "notes.ini", "notes.ini"},
        {"/local/notesdata", "notes.ini", "/local/notesdata/notes.ini"},
        {"/local/notesdata/", "notes.ini", "/local/notesdata/notes.ini"},
        {"/a", "", "/a/"},
        {"", "", ""},
        {"/a", "/b", "/a//b"},
    };
    for (const Case &c : cases) {
        char buf[1024] = {};
        strcpy(buf, c.dir);
        concatPath(buf, c.name);
        EXPECT_STREQ(c.want, buf) << c.dir << " + " << c.name;
    }
}

TEST(CaseConversion, OnlyAsciiLettersChange) {
    char text[] = "Notes.NSF \xC3\xA9\x80 z9";
    EXPECT_EQ(text, _strlwr(text));
    EXPECT_STREQ("notes.nsf \xC3\xA9\x80 z9", text);
    _strupr(text);
    EXPECT_STREQ("NOTES.NSF \xC3\xA9\x80 Z9", text);
    char *copy = _strdup(text);
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(text, copy);
    EXPECT_STREQ(text, copy);
    free(copy);
}

TEST(NumberFormatting, DigitsInEveryRadix) {
    char buf[80];
    EXPECT_STREQ("0", ltoa(0, buf, 10));
    EXPECT_STREQ("-42", ltoa(-42, buf, 10));
    EXPECT_STREQ("FF", ltoa(255, buf, 16));
    EXPECT_STREQ("255", ltoa(255, buf, 1));
    EXPECT_STREQ("255", ltoa(255, buf, 37));
    EXPECT_STREQ("Z", ltoa(35, buf, 36));
    EXPECT_STREQ("101", _ltoa(5, buf, 2));
    EXPECT_EQ(buf, _ltoa(5, buf, 2));
    // The extremes must not overflow the digit array or the negation.
    EXPECT_EQ(std::to_string(LONG_MIN), ltoa(LONG_MIN, buf, 10));
    EXPECT_EQ(std::to_string(LONG_MAX), ltoa(LONG_MAX, buf, 10));
    EXPECT_EQ(sizeof(long) * 8, strlen(ltoa(-1, buf, 2)));
}

TEST(NumberFormatting, SizesInBinaryUnits) {
    EXPECT_EQ("0 B", nsfmend::sizeText(0, "B"));
    EXPECT_EQ("1023 bytes", nsfmend::sizeText(1023, "bytes"));
    EXPECT_EQ("1.0 KiB", nsfmend::sizeText(1024, "bytes"));
    EXPECT_EQ("1.5 GiB", nsfmend::sizeText(1536.0 * 1024 * 1024, "B"));
    // Past the largest unit the number grows instead of the unit running out.
    EXPECT_EQ("2048.0 PiB", nsfmend::sizeText(2048.0 * (1ull << 50), "B"));
}

TEST(FailureTexts, ApiStatusWithoutTextShowsWholeNumber) {
    char buf[4096];
    // A text left in the buffer by an earlier step must not survive a lookup
    // that finds nothing.
    strcpy(buf, "QMR_NSF_SUCCESS");
    get_api_error_message(0xC000 | 0x3FFE, buf);
    // The whole status, the two high flag bits included, not the code the
    // library was asked about.
    EXPECT_STREQ("error_code=65534", buf);
    get_api_error_message(1, nullptr);  // nothing to write into, no crash
}

TEST(FailureTexts, ApiStatusWithFlagBitsShowsTheTextOfItsCode) {
    char buf[4096];
    for (unsigned flags : {0x4000u, 0x8000u, 0xC000u}) {
        strcpy(buf, "QMR_NSF_SUCCESS");
        get_api_error_message(static_cast<STATUS>(flags | 5113), buf);
        EXPECT_STREQ("Database is not in use by a running server", buf) << flags;
    }
}

TEST(FailureTexts, SystemErrors) {
    char buf[4096];
    get_sys_error_message(-1, buf);
    EXPECT_STREQ("Unknown error.", buf);
    get_sys_error_message(ENOENT, buf);
    EXPECT_STREQ(strerror(ENOENT), buf);
}
