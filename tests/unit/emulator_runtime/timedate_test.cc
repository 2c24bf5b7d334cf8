// TIMEDATE values, text conversions in both directions, and the GMT+0
// re-stamping that the program does with TimeGMToLocal / TimeLocalToGM.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "notesapi/notesapi.h"
#include "runtime/messages.h"
#include "runtime/timedate.h"

namespace {

// The program's fixed format by default: 4-digit years, MDY, 24-hour,
// leading zeros; or the flags and strings given.
INTLFORMAT ProgramFormat(WORD flags = 0x012c, const char *date = "/", const char *time = ":",
                         const char *am = "AM", const char *pm = "PM") {
    INTLFORMAT f;
    memset(&f, 0, sizeof f);
    f.Flags = flags;
    f.CurrencyDigits = 2;
    f.Length = sizeof f;
    strcpy(f.AMString, am);
    strcpy(f.PMString, pm);
    strcpy(f.CurrencyString, "$");
    strcpy(f.ThousandString, ",");
    strcpy(f.DecimalString, ".");
    strcpy(f.DateString, date);
    strcpy(f.TimeString, time);
    strcpy(f.YesterdayString, "Yesterday");
    strcpy(f.TodayString, "Today");
    strcpy(f.TomorrowString, "Tomorrow");
    return f;
}

const TFMT kProgramTfmt = {0, 0, 0, 2};

int64_t Iso(const char *text) {
    int64_t h = 0;
    EXPECT_TRUE(emu::ParseIsoUtc(text, &h)) << text;
    return h;
}

class Zone : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("NOTESEMU_FAIL"); }
    void TearDown() override { UseZone("UTC"); }
    static void UseZone(const char *tz) {
        if (strcmp(tz, "UTC") != 0) {
            struct stat st;
            ASSERT_EQ(stat((std::string("/usr/share/zoneinfo/") + tz).c_str(), &st), 0)
                << "the zone database (tzdata) is needed for " << tz;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    // Parses text (no terminator after it) and returns the status.
    static STATUS Parse(const std::string &text, TIMEDATE *td, const INTLFORMAT *intl,
                        size_t *consumed = nullptr) {
        // A stray byte after the text, no terminator: reading past maxLength shows.
        std::vector<char> bytes(text.begin(), text.end());
        bytes.push_back('9');
        char *p = bytes.data();
        STATUS st = ConvertTextToTIMEDATE(intl, &kProgramTfmt, &p, static_cast<WORD>(text.size()), td);
        if (consumed != nullptr) *consumed = static_cast<size_t>(p - bytes.data());
        if (st != NOERROR) {
            EXPECT_EQ(p, bytes.data()) << "a refused text must not be consumed";
        }
        return st;
    }
    static std::string ParseIso(const std::string &text, const INTLFORMAT *intl) {
        TIMEDATE td;
        STATUS st = Parse(text, &td, intl);
        if (st != NOERROR) return "status " + std::to_string(st);
        return emu::FormatIsoUtc(emu::TimeDateHundredths(td));
    }
    // What the program does to a parsed cut-off: read it again as GMT+0.
    static void Restamp(TIMEDATE *td) {
        TIME t;
        memset(&t, 0, sizeof t);
        t.GM = *td;
        TimeGMToLocal(&t);
        t.zone = 0;
        t.dst = 0;
        TimeLocalToGM(&t);
        *td = t.GM;
    }
    // The fields TimeGMToLocal fills, as "year-month-day weekday
    // hour:minute:second.hundredth zone dst".
    static std::string Broken(const TIME &t) {
        char buf[96];
        snprintf(buf, sizeof buf, "%d-%d-%d w%d %d:%02d:%02d.%02d z%d d%d", t.year, t.month, t.day,
                 t.weekday, t.hour, t.minute, t.second, t.hundredth, t.zone, t.dst);
        return buf;
    }
    // The text of td in the formats given, or "status N" when refused.
    static std::string TextIn(const INTLFORMAT *intl, const TFMT *tfmt, const TIMEDATE &td) {
        char buf[81];
        WORD len = 0;
        const STATUS st = ConvertTIMEDATEToText(intl, tfmt, &td, buf, sizeof buf, &len);
        if (st != NOERROR) return "status " + std::to_string(st);
        EXPECT_EQ(len, strlen(buf));
        return buf;
    }
    // The text of a moment in the default formats.
    static std::string Text(int64_t hundredths) {
        return TextIn(nullptr, nullptr, emu::MakeTimeDate(hundredths, 0, false));
    }
};

TEST(TimeDateLayout, KeepsTheMomentZoneAndDaylightFlag) {
    const int64_t moments[] = {0, 1, -1, Iso("2013-11-15T13:00:00Z"), Iso("0001-01-01T00:00:00Z"),
                               Iso("9999-12-31T23:59:59.99Z")};
    const int zones[] = {0, 330, -300, 345, -570, 840, -720};
    for (int64_t m : moments)
        for (int z : zones)
            for (bool dst : {false, true}) {
                TIMEDATE td = emu::MakeTimeDate(m, z, dst);
                EXPECT_EQ(emu::TimeDateHundredths(td), m);
                EXPECT_EQ(emu::TimeDateZoneMinutes(td), z);
                EXPECT_EQ(emu::TimeDateDst(td), dst);
            }
    TIMEDATE zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(emu::TimeDateHundredths(zero), 0);
    EXPECT_EQ(emu::TimeDateZoneMinutes(zero), 0);
}

TEST(TimeDateIso, ParsesAndFormatsUtc) {
    EXPECT_EQ(Iso("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(Iso("2013-11-15T12:59:00Z"), 138452034000LL);
    EXPECT_EQ(Iso("2013-11-15T12:59:00.5Z"), 138452034050LL);
    EXPECT_EQ(Iso("2013-11-15T12:59:00.129Z"), 138452034012LL);
    EXPECT_EQ(Iso("1969-12-31T23:59:59.99Z"), -1);
    EXPECT_EQ(emu::FormatIsoUtc(138452034000LL), "2013-11-15T12:59:00Z");
    EXPECT_EQ(emu::FormatIsoUtc(138452034007LL), "2013-11-15T12:59:00.07Z");
    EXPECT_EQ(emu::FormatIsoUtc(-1), "1969-12-31T23:59:59.99Z");
    EXPECT_EQ(emu::FormatIsoUtc(Iso("2000-02-29T23:00:00Z")), "2000-02-29T23:00:00Z");
    int64_t h;
    for (const char *bad : {"2013-11-15T12:59:00", "2013-11-15 12:59:00Z", "2013-02-29T00:00:00Z",
                            "2013-13-01T00:00:00Z", "2013-11-15T24:00:00Z", "2013-11-15T12:59:00.Z",
                            "2013-11-15T12:59:00Zjunk", "", "2013-1-15T12:59:00Z"})
        EXPECT_FALSE(emu::ParseIsoUtc(bad, &h)) << bad;
    int64_t now = emu::NowHundredths();
    EXPECT_GT(now, Iso("2020-01-01T00:00:00Z"));
}

TEST_F(Zone, TextIsReadInTheProgramsFormat) {
    INTLFORMAT f = ProgramFormat();
    EXPECT_EQ(ParseIso("11/15/2013 13:00", &f), "2013-11-15T13:00:00Z");
    EXPECT_EQ(ParseIso("  11/15/2013   13:00:59  ", &f), "2013-11-15T13:00:59Z");
    EXPECT_EQ(ParseIso("1/5/2013 9:05", &f), "2013-01-05T09:05:00Z");
    EXPECT_EQ(ParseIso("11/15/2013 13:00:59.5", &f), "2013-11-15T13:00:59.50Z");
    EXPECT_EQ(ParseIso("11/15/2013", &f), "2013-11-15T00:00:00Z");  // date alone: midnight
    EXPECT_EQ(ParseIso("02/29/2012 00:00", &f), "2012-02-29T00:00:00Z");
    EXPECT_EQ(ParseIso("02/29/2000 23:59", &f), "2000-02-29T23:59:00Z");
    EXPECT_EQ(ParseIso("11/15/2013 13:00", nullptr), "2013-11-15T13:00:00Z");
}

TEST_F(Zone, InvalidDatesAndTimesAreRefused) {
    INTLFORMAT f = ProgramFormat();
    TIMEDATE td;
    for (const char *bad :
         {"13/15/2013 10:00", "00/15/2013 10:00", "02/30/2012 10:00", "02/29/2013 10:00",
          "02/29/1900 10:00", "04/31/2013", "11/00/2013", "garbage", "11/15/2013 25:00",
          "11/15/2013 24:00", "11/15/2013 13:60", "11/15/2013 13:00:60", "11/15/2013 13:0",
          "11/15/2013 13", "11/15/2013 13:00x", "11/15/2013 13:00 PM", "11/15/2013x",
          "11/15/201313:00", "11/15/13 13:00", "11-15-2013 13:00", "", "   ", "11/15", "11/15/",
          "111/15/2013", "11/15/20133 13:00", "11/15/2013 -1:00", "11/15/2013 13:00:5"})
        EXPECT_EQ(Parse(bad, &td, &f), EMU_ERR_BAD_TIME) << bad;
    char *nothing = nullptr;
    EXPECT_EQ(ConvertTextToTIMEDATE(&f, nullptr, &nothing, 5, &td), EMU_ERR_BAD_ARGUMENT);
    EXPECT_EQ(ConvertTextToTIMEDATE(&f, nullptr, nullptr, 5, &td), EMU_ERR_BAD_ARGUMENT);
}

TEST_F(Zone, ReadingStopsAtMaxLengthOrTheTerminatorAndAdvancesTheText) {
    INTLFORMAT f = ProgramFormat();
    TIMEDATE td;
    size_t used = 0;
    // Only the first 16 bytes are the text; the seconds beyond are not read.
    std::string text = "11/15/2013 13:00:59";
    std::vector<char> bytes(text.begin(), text.end());
    char *p = bytes.data();
    ASSERT_EQ(ConvertTextToTIMEDATE(&f, nullptr, &p, 16, &td), NOERROR);
    EXPECT_EQ(p, bytes.data() + 16);
    EXPECT_EQ(emu::FormatIsoUtc(emu::TimeDateHundredths(td)), "2013-11-15T13:00:00Z");
    char terminated[] = "11/15/2013 13:00\0 junk";
    p = terminated;
    ASSERT_EQ(ConvertTextToTIMEDATE(&f, nullptr, &p, sizeof terminated, &td), NOERROR);
    EXPECT_EQ(p, terminated + 16);
    ASSERT_EQ(Parse("11/15/2013 13:00  ", &td, &f, &used), NOERROR);
    EXPECT_EQ(used, 18u);
    EXPECT_EQ(Parse("11/15/2013 13:00", &td, &f, &used), NOERROR);
    EXPECT_EQ(used, 16u);
}

TEST_F(Zone, OtherInternationalFormatsAreHonoured) {
    INTLFORMAT dmy = ProgramFormat(INTL_DATE_DMY | INTL_24_HOUR | INTL_4DIGIT_YEAR, ".", "h");
    EXPECT_EQ(ParseIso("15.11.2013 13h05", &dmy), "2013-11-15T13:05:00Z");
    EXPECT_EQ(ParseIso("11/15/2013 13:05", &dmy), "status 271");

    INTLFORMAT ymd = ProgramFormat(INTL_DATE_YMD | INTL_24_HOUR, "-");  // two-digit years allowed
    EXPECT_EQ(ParseIso("2013-11-15 13:05", &ymd), "2013-11-15T13:05:00Z");
    EXPECT_EQ(ParseIso("13-11-15 13:05", &ymd), "2013-11-15T13:05:00Z");
    EXPECT_EQ(ParseIso("99-11-15 13:05", &ymd), "1999-11-15T13:05:00Z");

    INTLFORMAT ampm = ProgramFormat(INTL_DATE_MDY | INTL_4DIGIT_YEAR, "/", ":", "vm", "nm");  // 12-hour
    EXPECT_EQ(ParseIso("11/15/2013 1:05 NM", &ampm), "2013-11-15T13:05:00Z");
    EXPECT_EQ(ParseIso("11/15/2013 12:30 vm", &ampm), "2013-11-15T00:30:00Z");
    EXPECT_EQ(ParseIso("11/15/2013 12:30nm", &ampm), "2013-11-15T12:30:00Z");
    EXPECT_EQ(ParseIso("11/15/2013 13:30", &ampm), "2013-11-15T13:30:00Z");
    EXPECT_EQ(ParseIso("11/15/2013 13:30 nm", &ampm), "status 271");
    EXPECT_EQ(ParseIso("11/15/2013 0:30 vm", &ampm), "status 271");

    // Text fields filled to their width have no terminator of their own.
    INTLFORMAT wide = ProgramFormat();
    memcpy(wide.DateString, "-----", 5);
    EXPECT_EQ(ParseIso("11-----15-----2013 13:00", &wide), "2013-11-15T13:00:00Z");
}

TEST_F(Zone, TextOfATimeIsLocalMonthDayYearWithSeconds) {
    EXPECT_EQ(Text(Iso("2013-11-15T11:00:00Z")), "11/15/2013 11:00:00");
    EXPECT_EQ(Text(Iso("2013-01-05T09:05:07.99Z")), "01/05/2013 09:05:07");
    UseZone("America/New_York");
    EXPECT_EQ(Text(Iso("2013-11-15T16:00:00Z")), "11/15/2013 11:00:00");
    EXPECT_EQ(Text(Iso("2013-07-15T15:00:00Z")), "07/15/2013 11:00:00");
    UseZone("Asia/Kolkata");
    EXPECT_EQ(Text(Iso("2013-11-15T05:30:00Z")), "11/15/2013 11:00:00");
}

TEST_F(Zone, TextStaysWithinTheLimit) {
    TIMEDATE td = emu::MakeTimeDate(Iso("2013-11-15T11:00:00Z"), 0, false);
    char buf[32];
    WORD len = 0;
    memset(buf, '#', sizeof buf);
    ASSERT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &td, buf, 19, &len), NOERROR);
    EXPECT_EQ(len, 19);
    EXPECT_EQ(std::string(buf, 19), "11/15/2013 11:00:00");
    EXPECT_EQ(buf[19], '#');  // exactly full: no room for, and no, terminator
    memset(buf, '#', sizeof buf);
    EXPECT_NE(ConvertTIMEDATEToText(nullptr, nullptr, &td, buf, 18, &len), NOERROR);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], '#');
    EXPECT_EQ(len, 0);
    EXPECT_NE(ConvertTIMEDATEToText(nullptr, nullptr, &td, buf, 0, &len), NOERROR);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_NE(ConvertTIMEDATEToText(nullptr, nullptr, nullptr, buf, 10, &len), NOERROR);
    EXPECT_NE(ConvertTIMEDATEToText(nullptr, nullptr, &td, nullptr, 10, &len), NOERROR);
}

TEST_F(Zone, TextHonoursTheFormatsGiven) {
    TIMEDATE td = emu::MakeTimeDate(Iso("2013-01-05T13:05:07.25Z"), 0, false);
    INTLFORMAT f = ProgramFormat(INTL_DATE_DMY, ".");  // 2-digit year, no leading zeros, 12-hour clock
    EXPECT_EQ(TextIn(&f, nullptr, td), "5.1.13 1:05:07 PM");
    f = ProgramFormat(INTL_DATE_YMD | INTL_4DIGIT_YEAR | INTL_24_HOUR | INTL_LEADING_ZERO, "-");
    TFMT dateOnly = {0, 0, 0, 0}, timeOnly = {0, 1, 0, 1}, hundredths = {0, 2, 0, 2};
    EXPECT_EQ(TextIn(&f, &dateOnly, td), "2013-01-05");
    EXPECT_EQ(TextIn(&f, &timeOnly, td), "13:05");
    EXPECT_EQ(TextIn(&f, &hundredths, td), "2013-01-05 13:05:07.25");
}

TEST_F(Zone, GMToLocalBreaksTheMomentDownInTheProcessZone) {
    TIME t;
    memset(&t, 0, sizeof t);
    UseZone("Asia/Kolkata");
    t.GM = emu::MakeTimeDate(Iso("2013-11-15T07:30:00.42Z"), 0, false);
    ASSERT_TRUE(TimeGMToLocal(&t));
    EXPECT_EQ(Broken(t), "2013-11-15 w6 13:00:00.42 z330 d0");  // Friday; 1 is Sunday
    UseZone("America/New_York");
    t.GM = emu::MakeTimeDate(Iso("2013-07-14T17:01:02Z"), 0, false);
    ASSERT_TRUE(TimeGMToLocal(&t));
    // A Sunday; the zone is the standard offset, dst adds the hour.
    EXPECT_EQ(Broken(t), "2013-7-14 w1 13:01:02.00 z-300 d1");
    EXPECT_FALSE(TimeGMToLocal(nullptr));
}

TEST_F(Zone, LocalToGMUsesTheRecordsZoneNotTheProcessZone) {
    UseZone("Asia/Kolkata");
    TIME t;
    memset(&t, 0, sizeof t);
    t.year = 2013, t.month = 11, t.day = 15, t.hour = 13, t.minute = 0, t.hundredth = 5;
    struct Case {
        int zone, dst;
        const char *gmt;
    } cases[] = {{0, 0, "2013-11-15T13:00:00.05Z"},   {330, 0, "2013-11-15T07:30:00.05Z"},
                 {-300, 1, "2013-11-15T17:00:00.05Z"}, {-210, 0, "2013-11-15T16:30:00.05Z"},
                 {345, 0, "2013-11-15T07:15:00.05Z"},  {840, 0, "2013-11-14T23:00:00.05Z"}};
    for (const Case &c : cases) {
        t.zone = c.zone;
        t.dst = c.dst;
        ASSERT_TRUE(TimeLocalToGM(&t));
        EXPECT_EQ(emu::FormatIsoUtc(emu::TimeDateHundredths(t.GM)), c.gmt) << c.zone;
        EXPECT_EQ(emu::TimeDateZoneMinutes(t.GM), c.zone);
        EXPECT_EQ(emu::TimeDateDst(t.GM), c.dst != 0);
        EXPECT_EQ(t.weekday, 6);
    }
    // Month 13, February 29th of 2013 (no leap year), hour 24, hundredth 100,
    // a zone a whole day off.
    for (int which = 0; which < 5; which++) {
        TIME bad = t;
        bad.zone = 0;
        int *field[] = {&bad.month, &bad.day, &bad.hour, &bad.hundredth, &bad.zone};
        const int value[] = {13, 29, 24, 100, 24 * 60};
        if (which == 1) bad.month = 2;
        *field[which] = value[which];
        EXPECT_FALSE(TimeLocalToGM(&bad)) << which;
    }
    EXPECT_FALSE(TimeLocalToGM(nullptr));
}

TEST_F(Zone, ACutOffTimeComesOutAsGmtInEveryZone) {
    const INTLFORMAT f = ProgramFormat();
    struct Case {
        const char *text, *gmt;
    } cases[] = {
        {"11/15/2013 13:00", "2013-11-15T13:00:00Z"},
        {"07/15/2013 13:00", "2013-07-15T13:00:00Z"},  // summer time in New York
        {"03/10/2013 01:59", "2013-03-10T01:59:00Z"},  // just before the clocks spring forward
        {"03/10/2013 03:00", "2013-03-10T03:00:00Z"},  // just after
        {"11/03/2013 01:30", "2013-11-03T01:30:00Z"},  // an hour New York lives twice
        {"11/03/2013 02:00", "2013-11-03T02:00:00Z"},
        {"12/31/2013 23:59:59", "2013-12-31T23:59:59Z"},
        {"02/29/2012", "2012-02-29T00:00:00Z"},
    };
    for (const char *tz : {"UTC", "America/New_York", "Asia/Kolkata"}) {
        UseZone(tz);
        for (const Case &c : cases) {
            TIMEDATE td;
            ASSERT_EQ(Parse(c.text, &td, &f), NOERROR) << tz << " " << c.text;
            Restamp(&td);
            EXPECT_EQ(emu::FormatIsoUtc(emu::TimeDateHundredths(td)), c.gmt) << tz << " " << c.text;
            EXPECT_EQ(emu::TimeDateZoneMinutes(td), 0);
            EXPECT_FALSE(emu::TimeDateDst(td));
        }
    }
}

TEST_F(Zone, AWallTimeTheLocalZoneSkipsIsRefusedNotMoved) {
    const INTLFORMAT f = ProgramFormat();
    TIMEDATE td;
    UseZone("America/New_York");
    EXPECT_EQ(Parse("03/10/2013 02:30", &td, &f), EMU_ERR_BAD_TIME);
    UseZone("UTC");
    EXPECT_EQ(Parse("03/10/2013 02:30", &td, &f), NOERROR);
}

TEST_F(Zone, MomentsBeyondThisBuildsTimeRangeAreAStatus) {
    TIME t;
    memset(&t, 0, sizeof t);
    t.GM = emu::MakeTimeDate(Iso("9999-12-31T00:00:00Z"), 0, false);
    const bool narrow = sizeof(time_t) == 4;
    EXPECT_EQ(TextIn(nullptr, nullptr, t.GM),
              narrow ? "status " + std::to_string(EMU_ERR_BAD_TIME) : "12/31/9999 00:00:00");
    EXPECT_EQ(TimeGMToLocal(&t), !narrow);
    const INTLFORMAT f = ProgramFormat();
    EXPECT_EQ(ParseIso("01/01/2040 00:00", &f),
              narrow ? "status " + std::to_string(EMU_ERR_BAD_TIME) : "2040-01-01T00:00:00Z");
}

}  // namespace
