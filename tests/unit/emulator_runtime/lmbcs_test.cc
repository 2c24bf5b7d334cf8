// OSTranslate: LMBCS to and from UTF-8, its bounds, and ICU as an oracle.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "notesapi/notesapi.h"
#include "runtime/lmbcs.h"

#ifdef HAVE_ICU_ORACLE
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#endif

namespace {

const char *const kSamples[] = {
    "/local/notesdata/mail/jdoe.nsf",
    "caf\xC3\xA9 \xC3\x9C" "ber Stra\xC3\x9F" "e \xC2\xA0\xC3\xBF",  // Latin-1
    "\xE4\xB8\xAD\xE6\x96\x87\xE8\xB7\xAF\xE5\xBE\x84",               // CJK
    "\xE4\xB8\x80 \xE3\x80\x80 \xC4\x80",       // U+4E00, U+3000, U+0100: zero low bytes
    "\xF0\x9F\x98\x80 \xF0\x90\x80\x80 \xF4\x8F\xBF\xBF",  // emoji, U+10000, U+10FFFF
    "\x01\t\n\r\x0F\x14\x19\x1F\x7F \xC2\x80\xC2\x9F",    // C0, DEL, C1
    "\xCE\xB1\xCE\xB2 \xD0\x96 \xD7\x90 \xE0\xB8\x81 \xEF\xBF\xBD",  // Greek, Cyrillic, Hebrew, Thai
};

std::string Translate(WORD mode, const std::string &in, WORD outLength = 1024) {
    std::vector<char> out(outLength + 16u, '#');
    WORD n = OSTranslate(mode, in.data(), static_cast<WORD>(in.size()), out.data(), outLength);
    for (size_t i = outLength; i < out.size(); i++) EXPECT_EQ(out[i], '#') << "written past the end";
    std::string text(out.data());
    EXPECT_EQ(n, text.size());
    return text;
}

TEST(Lmbcs, PrintableAsciiPassesUnchanged) {
    std::string ascii;
    for (int c = 0x20; c < 0x7F; c++) ascii += static_cast<char>(c);
    EXPECT_EQ(Translate(0, ascii), ascii);
    EXPECT_EQ(Translate(1, ascii), ascii);
}

TEST(Lmbcs, RoundTripsAreExactAndTheLmbcsTextHoldsNoZeroByte) {
    for (const char *s : kSamples) {
        std::string lmbcs = Translate(0, s);
        EXPECT_EQ(lmbcs.size(), emu::NativeToLmbcs(s).size()) << s;  // no zero byte inside
        EXPECT_EQ(Translate(1, lmbcs), s);
        EXPECT_EQ(emu::LmbcsToNative(emu::NativeToLmbcs(s)), s);
    }
    EXPECT_EQ(Translate(0, "\xC3\xA9"), "\x82");                  // code page 850 byte
    EXPECT_EQ(Translate(0, "\xE4\xB8\xAD"), "\x14\x4E\x2D");      // Unicode group
    EXPECT_EQ(Translate(0, "\xE4\xB8\x80"), "\x14\xF6\x4E");      // zero low byte
    EXPECT_EQ(Translate(0, "\x01"), "\x0F\x21");                  // control group
}

TEST(Lmbcs, EveryCharacterRoundTripsExceptTheZeroMarkerBlock) {
    // One character at a time across all of Unicode.
    for (uint32_t cp = 1; cp <= 0x10FFFF; cp++) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::string utf8;
        if (cp < 0x80) {
            utf8 += static_cast<char>(cp);
        } else if (cp < 0x800) {
            utf8 += static_cast<char>(0xC0 | (cp >> 6));
            utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (cp >> 12));
            utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (cp >> 18));
            utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        }
        std::string lmbcs = emu::NativeToLmbcs(utf8);
        ASSERT_EQ(lmbcs.find('\0'), std::string::npos) << std::hex << cp;
        std::string back = emu::LmbcsToNative(lmbcs);
        if (cp > 0xF600 && cp <= 0xF6FF)
            ASSERT_EQ(back, "\xEF\xBF\xBD") << std::hex << cp;
        else
            ASSERT_EQ(back, utf8) << std::hex << cp;
    }
}

TEST(Lmbcs, OutputIsAlwaysTerminatedAndNoCharacterIsSplit) {
    const std::string cjk = "a\xE4\xB8\xAD";  // "a" + U+4E2D: 1 + 3 LMBCS bytes
    EXPECT_EQ(Translate(0, cjk, 1), "");
    EXPECT_EQ(Translate(0, cjk, 2), "a");
    EXPECT_EQ(Translate(0, cjk, 4), "a");      // the group needs 3 bytes + NUL
    EXPECT_EQ(Translate(0, cjk, 5), "a\x14\x4E\x2D");
    const std::string emoji = "\xF0\x9F\x98\x80";  // two groups, never one alone
    EXPECT_EQ(Translate(0, emoji, 6), "");
    EXPECT_EQ(Translate(0, emoji, 7), "\x14\xD8\x3D\x14\xF6\xDE");
    EXPECT_EQ(Translate(1, "\x14\x4E\x2D", 3), "");
    EXPECT_EQ(Translate(1, "\x14\x4E\x2D", 4), "\xE4\xB8\xAD");
    EXPECT_EQ(Translate(1, "ab", 2), "a");

    char out[4] = "xyz";
    EXPECT_EQ(OSTranslate(0, "abc", 3, out, 0), 0);
    EXPECT_STREQ(out, "xyz");  // no room even for the terminator: untouched
    EXPECT_EQ(OSTranslate(0, "abc", 3, nullptr, 10), 0);
    EXPECT_EQ(OSTranslate(0, nullptr, 3, out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(OSTranslate(7, "abc", 3, out, sizeof out), 0);  // no such mode
    EXPECT_STREQ(out, "");
}

TEST(Lmbcs, InputEndsAtItsLengthOrItsFirstZeroByte) {
    char out[64];
    EXPECT_EQ(OSTranslate(0, "abcdef", 3, out, sizeof out), 3);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(OSTranslate(0, "ab\0cd", 5, out, sizeof out), 2);
    EXPECT_STREQ(out, "ab");
    // A group cut by the length is malformed, not read beyond it.
    EXPECT_EQ(OSTranslate(1, "\x14\x4E\x2D", 2, out, sizeof out), 3);
    EXPECT_STREQ(out, "\xEF\xBF\xBD");
    // A zero inside a group is the end of the text, never skipped over.
    EXPECT_EQ(OSTranslate(1, "\x14\x00\xE9", 3, out, sizeof out), 3);
    EXPECT_STREQ(out, "\xEF\xBF\xBD");
}

TEST(Lmbcs, MalformedInputIsReplaced) {
    const std::string fffd = "\xEF\xBF\xBD";
    const std::string lmbcsFffd = "\x14\xFF\xFD";
    // Truncated, overlong, surrogate, beyond U+10FFFF, stray continuation.
    EXPECT_EQ(Translate(0, "a\xC3"), "a" + lmbcsFffd);
    EXPECT_EQ(Translate(0, "\xC0\xAF" "b"), lmbcsFffd + lmbcsFffd + "b");
    EXPECT_EQ(Translate(0, "\xED\xA0\x80"), lmbcsFffd + lmbcsFffd + lmbcsFffd);
    EXPECT_EQ(Translate(0, "\xF4\x90\x80\x80"), lmbcsFffd + lmbcsFffd + lmbcsFffd + lmbcsFffd);
    EXPECT_EQ(Translate(0, "\xE4\xB8z"), lmbcsFffd + "z");
    EXPECT_EQ(Translate(0, "\x80"), lmbcsFffd);

    EXPECT_EQ(Translate(1, "\x14\x4E"), fffd);                   // truncated group
    EXPECT_EQ(Translate(1, "\x14\xD8\x3D" "A"), fffd + "A");     // lone high surrogate
    EXPECT_EQ(Translate(1, "\x14\xDE\x01" "A"), fffd + "A");     // lone low surrogate
    EXPECT_EQ(Translate(1, "\x14\xD8\x3D\x14\x4E\x2D"), fffd + "\xE4\xB8\xAD");
    EXPECT_EQ(Translate(1, "\x0F"), fffd);                       // control group cut short
    EXPECT_EQ(Translate(1, "\x0F\x20" "A"), fffd + "A");         // U+0000 cannot be a C string
    EXPECT_EQ(Translate(1, "\x10\x88\xEA" "A"), fffd + "A");     // a national double-byte group
    EXPECT_EQ(Translate(1, "\x02\xE1" "A"), fffd + "A");         // a national single-byte group
    EXPECT_EQ(Translate(1, "\x15" "A"), fffd + "A");
}

TEST(Lmbcs, DecoderReadsTheDefaultGroupAndRawLineControls) {
    EXPECT_EQ(Translate(1, "\x82\x01\x82"), "\xC3\xA9\xC3\xA9");  // bare and explicit group 1
    EXPECT_EQ(Translate(1, "a\tb\r\n"), "a\tb\r\n");
    EXPECT_EQ(Translate(1, "\x0F\x80"), "\xC2\x80");
}

#ifdef HAVE_ICU_ORACLE
// UTF-8 to UTF-16 by ICU, independent of the code under test.
std::u16string Utf16(const std::string &utf8) {
    std::vector<UChar> out(utf8.size() + 1);
    int32_t n = 0;
    UErrorCode err = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &n, utf8.data(),
                  static_cast<int32_t>(utf8.size()), &err);
    EXPECT_FALSE(U_FAILURE(err)) << u_errorName(err);
    return std::u16string(reinterpret_cast<const char16_t *>(out.data()), static_cast<size_t>(n));
}

class Icu {
public:
    Icu() {
        UErrorCode err = U_ZERO_ERROR;
        cnv_ = ucnv_open("LMBCS-1", &err);
        if (U_FAILURE(err)) cnv_ = nullptr;
    }
    ~Icu() {
        if (cnv_ != nullptr) ucnv_close(cnv_);
    }
    bool ok() const { return cnv_ != nullptr; }
    std::u16string Decode(const std::string &lmbcs) {
        UErrorCode err = U_ZERO_ERROR;
        std::vector<UChar> out(lmbcs.size() * 2 + 8);
        int32_t n = ucnv_toUChars(cnv_, out.data(), static_cast<int32_t>(out.size()), lmbcs.data(),
                                  static_cast<int32_t>(lmbcs.size()), &err);
        EXPECT_FALSE(U_FAILURE(err)) << u_errorName(err);
        return std::u16string(reinterpret_cast<const char16_t *>(out.data()), static_cast<size_t>(n));
    }
    std::string Encode(const std::u16string &text) {
        UErrorCode err = U_ZERO_ERROR;
        std::vector<char> out(text.size() * 6 + 8);
        int32_t n = ucnv_fromUChars(cnv_, out.data(), static_cast<int32_t>(out.size()),
                                    reinterpret_cast<const UChar *>(text.data()),
                                    static_cast<int32_t>(text.size()), &err);
        EXPECT_FALSE(U_FAILURE(err)) << u_errorName(err);
        return std::string(out.data(), static_cast<size_t>(n));
    }

private:
    UConverter *cnv_;
};

TEST(LmbcsOracle, IcuDecodesOurOutputToTheSameText) {
    Icu icu;
    ASSERT_TRUE(icu.ok());
    for (const char *s : kSamples) EXPECT_TRUE(icu.Decode(Translate(0, s)) == Utf16(s)) << s;
}

TEST(LmbcsOracle, WeDecodeIcuOutputToTheSameText) {
    // ICU writes national groups for some scripts; these samples stay within
    // the groups the emulator reads (ASCII, code page 850, controls, Unicode).
    Icu icu;
    ASSERT_TRUE(icu.ok());
    const char *const samples[] = {
        "/local/notesdata/mail/jdoe.nsf",
        "caf\xC3\xA9 \xC3\x9C" "ber Stra\xC3\x9F" "e \xC2\xA0\xC3\xBF \xC2\xA9\xC2\xAE",
        "\xF0\x9F\x98\x80 \xF0\x90\x80\x80",
        "\x01\t\n\r\x0F\x14\x19\x1F\x7F \xC2\x80\xC2\x9F",
        "\xE2\x94\x80\xE2\x96\x88 \xC6\x92",  // box drawing and f-hook from code page 850
    };
    for (const char *s : samples) EXPECT_EQ(Translate(1, icu.Encode(Utf16(s))), s) << s;
    // Every byte of the default group.
    for (int b = 0x80; b <= 0xFF; b++) {
        std::string one(1, static_cast<char>(b));
        EXPECT_TRUE(Utf16(Translate(1, one)) == icu.Decode(one)) << b;
    }
}
#endif

}  // namespace
