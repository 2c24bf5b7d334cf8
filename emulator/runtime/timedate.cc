// TIMEDATE values and the time conversions.
//
// Layout (Innards[0] = bits 0..31, Innards[1] = bits 32..63):
//   bits 0..55   hundredths of a second since 1970-01-01T00:00:00Z, signed
//   bits 56..62  standard zone it was read in, quarter hours east of GMT, signed
//   bit  63      daylight saving was in effect where it was read
// An all-zero TIMEDATE is the epoch, read in GMT.
//
// TIME.zone is the standard offset in minutes east of GMT; dst = 1 adds one
// hour to it. Zone 0 with dst 0 is GMT. TIME.weekday runs 1 (Sunday) to 7.
#include "runtime/timedate.h"

#include <string.h>
#include <time.h>

#include <string>

#include "runtime/fault.h"
#include "runtime/messages.h"

namespace {

constexpr int64_t kCountMax = (int64_t{1} << 55) - 1;
constexpr int64_t kCountMin = -(int64_t{1} << 55);
constexpr uint64_t kCountMask = (uint64_t{1} << 56) - 1;
constexpr int kMaxZoneMinutes = 15 * 60;

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Proleptic Gregorian calendar, days relative to 1970-01-01.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    int64_t era = FloorDiv(y, 400);
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t *y, int *m, int *d) {
    z += 719468;
    int64_t era = FloorDiv(z, 146097);
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

bool ValidCalendar(int64_t y, int m, int d, int hh, int mm, int ss, int hund) {
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m) &&
           hh >= 0 && hh <= 23 && mm >= 0 && mm <= 59 && ss >= 0 && ss <= 59 && hund >= 0 &&
           hund <= 99;
}

// The moment as a time_t, when this build's time_t can hold it (a 32-bit
// time_t ends in 2038).
bool ToTimeT(int64_t seconds, time_t *out) {
    time_t t = static_cast<time_t>(seconds);
    if (static_cast<int64_t>(t) != seconds) return false;
    *out = t;
    return true;
}

// Zone (standard offset, minutes east) and flag of a local broken-down time.
int StandardZone(const struct tm &tm) {
    long offset = tm.tm_gmtoff / 60;
    return static_cast<int>(tm.tm_isdst > 0 ? offset - 60 : offset);
}

// Reads the text of ConvertTextToTIMEDATE; never looks past end.
class Cursor {
public:
    Cursor(const char *p, const char *end) : p_(p), end_(end) {}
    const char *pos() const { return p_; }
    bool AtEnd() const { return p_ == end_; }
    bool SkipBlanks() {
        const char *start = p_;
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t')) p_++;
        return p_ != start;
    }
    // 1..maxDigits decimal digits.
    bool Number(int maxDigits, int *value, int *digits) {
        int v = 0, n = 0;
        while (p_ != end_ && *p_ >= '0' && *p_ <= '9' && n < maxDigits) {
            v = v * 10 + (*p_ - '0');
            p_++;
            n++;
        }
        if (n == 0 || (p_ != end_ && *p_ >= '0' && *p_ <= '9')) return false;
        *value = v;
        *digits = n;
        return true;
    }
    bool Literal(std::string_view s, bool ignoreCase = false) {
        if (s.empty() || static_cast<size_t>(end_ - p_) < s.size()) return false;
        for (size_t i = 0; i < s.size(); i++) {
            char a = p_[i], b = s[i];
            if (ignoreCase) {
                if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
                if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
            }
            if (a != b) return false;
        }
        p_ += s.size();
        return true;
    }

private:
    const char *p_;
    const char *end_;
};

// A text field of INTLFORMAT: up to its width, not necessarily terminated.
std::string_view Field(const char *field, size_t width, std::string_view fallback) {
    size_t n = strnlen(field, width);
    return n == 0 ? fallback : std::string_view(field, n);
}

enum class Order { MDY, DMY, YMD };

struct Format {
    Order order = Order::MDY;
    bool fourDigitYear = true;
    bool hour24 = true;
    bool leadingZero = true;
    std::string_view dateSep = "/", timeSep = ":", decimalSep = ".", am = "AM", pm = "PM";
};

Format FormatOf(const INTLFORMAT *intl) {
    Format f;
    if (intl == nullptr) return f;
    WORD flags = intl->Flags;
    if (flags & INTL_DATE_MDY) f.order = Order::MDY;
    else if (flags & INTL_DATE_DMY) f.order = Order::DMY;
    else if (flags & INTL_DATE_YMD) f.order = Order::YMD;
    f.fourDigitYear = (flags & INTL_4DIGIT_YEAR) != 0;
    f.hour24 = (flags & INTL_24_HOUR) != 0;
    f.leadingZero = (flags & INTL_LEADING_ZERO) != 0;
    f.dateSep = Field(intl->DateString, sizeof intl->DateString, "/");
    f.timeSep = Field(intl->TimeString, sizeof intl->TimeString, ":");
    f.decimalSep = Field(intl->DecimalString, sizeof intl->DecimalString, ".");
    f.am = Field(intl->AMString, sizeof intl->AMString, "AM");
    f.pm = Field(intl->PMString, sizeof intl->PMString, "PM");
    return f;
}

struct Reading {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, hundredth = 0;
};

bool ParseDate(Cursor *c, const Format &f, Reading *r) {
    int v[3], digits[3];
    for (int i = 0; i < 3; i++) {
        if (i > 0 && !c->Literal(f.dateSep)) return false;
        if (!c->Number(4, &v[i], &digits[i])) return false;
    }
    int yi = f.order == Order::YMD ? 0 : 2;
    int mi = f.order == Order::DMY ? 1 : (f.order == Order::MDY ? 0 : 1);
    int di = f.order == Order::DMY ? 0 : (f.order == Order::MDY ? 1 : 2);
    if (digits[mi] > 2 || digits[di] > 2) return false;
    int year = v[yi];
    if (digits[yi] == 4) {
        // taken as written
    } else if (!f.fourDigitYear && digits[yi] <= 2) {
        year += year < 50 ? 2000 : 1900;
    } else {
        return false;  // a four-digit-year format wants all four digits
    }
    r->year = year;
    r->month = v[mi];
    r->day = v[di];
    return true;
}

bool ParseTime(Cursor *c, const Format &f, Reading *r) {
    int digits;
    if (!c->Number(2, &r->hour, &digits)) return false;
    if (!c->Literal(f.timeSep) || !c->Number(2, &r->minute, &digits) || digits != 2) return false;
    if (c->Literal(f.timeSep)) {
        if (!c->Number(2, &r->second, &digits) || digits != 2) return false;
        if (c->Literal(f.decimalSep)) {
            int frac;
            if (!c->Number(2, &frac, &digits)) return false;
            r->hundredth = digits == 1 ? frac * 10 : frac;
        }
    }
    if (f.hour24) return true;
    Cursor save = *c;
    c->SkipBlanks();
    bool am = c->Literal(f.am, true);
    bool pm = !am && c->Literal(f.pm, true);
    if (!am && !pm) {
        *c = save;  // no suffix: the hour is read on the 24-hour clock
        return true;
    }
    if (r->hour < 1 || r->hour > 12) return false;
    if (am && r->hour == 12) r->hour = 0;
    if (pm && r->hour != 12) r->hour += 12;
    return true;
}

}  // namespace

namespace emu {

TIMEDATE MakeTimeDate(int64_t hundredthsSinceEpoch, int zoneMinutesEast, bool dst) {
    int64_t count = hundredthsSinceEpoch;
    if (count > kCountMax) count = kCountMax;
    if (count < kCountMin) count = kCountMin;
    // Nearest quarter hour; every zone in use is a multiple of 15 minutes.
    int quarters = static_cast<int>(FloorDiv(zoneMinutesEast + 7, 15));
    if (quarters > 63) quarters = 63;
    if (quarters < -64) quarters = -64;
    uint64_t bits = static_cast<uint64_t>(count) & kCountMask;
    bits |= static_cast<uint64_t>(quarters & 0x7F) << 56;
    if (dst) bits |= uint64_t{1} << 63;
    TIMEDATE td;
    td.Innards[0] = static_cast<DWORD>(bits);
    td.Innards[1] = static_cast<DWORD>(bits >> 32);
    return td;
}

static uint64_t Bits(const TIMEDATE &td) {
    return (static_cast<uint64_t>(td.Innards[1]) << 32) | td.Innards[0];
}

int64_t TimeDateHundredths(const TIMEDATE &td) {
    uint64_t count = Bits(td) & kCountMask;
    if (count & (uint64_t{1} << 55)) count |= ~kCountMask;  // sign-extend
    return static_cast<int64_t>(count);
}

int TimeDateZoneMinutes(const TIMEDATE &td) {
    int quarters = static_cast<int>((Bits(td) >> 56) & 0x7F);
    if (quarters >= 64) quarters -= 128;
    return quarters * 15;
}

bool TimeDateDst(const TIMEDATE &td) { return (Bits(td) >> 63) != 0; }

bool ParseIsoUtc(std::string_view text, int64_t *hundredths) {
    // YYYY-MM-DDTHH:MM:SS[.fraction]Z
    if (text.size() < 20) return false;
    auto digits = [&](size_t at, size_t n, int *out) {
        int v = 0;
        for (size_t i = at; i < at + n; i++) {
            if (text[i] < '0' || text[i] > '9') return false;
            v = v * 10 + (text[i] - '0');
        }
        *out = v;
        return true;
    };
    int y, mo, d, h, mi, s, hund = 0;
    if (!digits(0, 4, &y) || text[4] != '-' || !digits(5, 2, &mo) || text[7] != '-' ||
        !digits(8, 2, &d) || text[10] != 'T' || !digits(11, 2, &h) || text[13] != ':' ||
        !digits(14, 2, &mi) || text[16] != ':' || !digits(17, 2, &s))
        return false;
    size_t i = 19;
    if (text[i] == '.') {
        size_t start = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (i - start < 2) hund = hund * 10 + (text[i] - '0');
            i++;
        }
        if (i == start) return false;
        if (i - start == 1) hund *= 10;
    }
    if (i + 1 != text.size() || text[i] != 'Z') return false;
    if (!ValidCalendar(y, mo, d, h, mi, s, hund)) return false;
    int64_t secs = DaysFromCivil(y, mo, d) * 86400 + int64_t{h} * 3600 + int64_t{mi} * 60 + s;
    *hundredths = secs * 100 + hund;
    return true;
}

std::string FormatIsoUtc(int64_t hundredths) {
    int64_t secs = FloorDiv(hundredths, 100);
    int hund = static_cast<int>(hundredths - secs * 100);
    int64_t days = FloorDiv(secs, 86400);
    int64_t rest = secs - days * 86400;
    int64_t y;
    int m, d;
    CivilFromDays(days, &y, &m, &d);
    char buf[64];
    int n = snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d", static_cast<long long>(y), m,
                     d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                     static_cast<int>(rest % 60));
    if (hund != 0 && n > 0 && static_cast<size_t>(n) < sizeof buf)
        (void)snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%02d", hund);
    return std::string(buf) + "Z";
}

int64_t NowHundredths() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 100 + ts.tv_nsec / 10000000;
}

}  // namespace emu

extern "C" {

// The conversions need no settings, so they work with or without a started
// runtime.
STATUS ConvertTextToTIMEDATE(const INTLFORMAT *intl, const TFMT *, char **text, WORD maxLength,
                             TIMEDATE *retTime) {
    STATUS injected;
    if (emu::InjectedFault("ConvertTextToTIMEDATE", &injected)) return injected;
    if (text == nullptr || *text == nullptr || retTime == nullptr) return EMU_ERR_BAD_ARGUMENT;
    const char *start = *text;
    const char *end = start + strnlen(start, maxLength);

    Format f = FormatOf(intl);
    Cursor c(start, end);
    Reading r;
    c.SkipBlanks();
    if (!ParseDate(&c, f, &r)) return EMU_ERR_BAD_TIME;
    bool blank = c.SkipBlanks();
    if (!c.AtEnd()) {
        if (!blank || !ParseTime(&c, f, &r)) return EMU_ERR_BAD_TIME;
        c.SkipBlanks();
        if (!c.AtEnd()) return EMU_ERR_BAD_TIME;
    }
    if (!ValidCalendar(r.year, r.month, r.day, r.hour, r.minute, r.second, r.hundredth))
        return EMU_ERR_BAD_TIME;

    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = r.year - 1900;
    tm.tm_mon = r.month - 1;
    tm.tm_mday = r.day;
    tm.tm_hour = r.hour;
    tm.tm_min = r.minute;
    tm.tm_sec = r.second;
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    struct tm back;
    // A wall time that the local zone skips (the hour a clock springs
    // forward) or that time_t cannot hold is refused, not moved.
    if (localtime_r(&t, &back) == nullptr || back.tm_year != tm.tm_year ||
        back.tm_mon != r.month - 1 || back.tm_mday != r.day || back.tm_hour != r.hour ||
        back.tm_min != r.minute || back.tm_sec != r.second)
        return EMU_ERR_BAD_TIME;
    *retTime = emu::MakeTimeDate(static_cast<int64_t>(t) * 100 + r.hundredth, StandardZone(back),
                                 back.tm_isdst > 0);
    *text = const_cast<char *>(c.pos());
    return NOERROR;
}

STATUS ConvertTIMEDATEToText(const INTLFORMAT *intl, const TFMT *fmt, const TIMEDATE *time,
                             char *retText, WORD textBufferLength, WORD *retTextLength) {
    if (retTextLength != nullptr) *retTextLength = 0;
    if (retText != nullptr && textBufferLength > 0) retText[0] = '\0';
    STATUS injected;
    if (emu::InjectedFault("ConvertTIMEDATEToText", &injected)) return injected;
    if (time == nullptr || retText == nullptr) return EMU_ERR_BAD_ARGUMENT;

    int64_t h = emu::TimeDateHundredths(*time);
    int64_t secs = FloorDiv(h, 100);
    int hund = static_cast<int>(h - secs * 100);
    time_t t;
    struct tm tm;
    if (!ToTimeT(secs, &t) || localtime_r(&t, &tm) == nullptr) return EMU_ERR_BAD_TIME;

    Format f = FormatOf(intl);
    // TFMT: Structure 0 date only, 1 time only, else both; Time 1 drops the
    // seconds, 2 adds hundredths, else hours, minutes and seconds.
    int structure = fmt != nullptr ? fmt->Structure : 2;
    int timeFormat = fmt != nullptr ? fmt->Time : 0;
    bool showDate = structure != 1, showTime = structure != 0;

    std::string out;
    char part[64];
    if (showDate) {
        int year = tm.tm_year + 1900;
        if (!f.fourDigitYear) year %= 100;
        const char *numFmt = f.leadingZero ? "%02d" : "%d";
        char y[16], m[16], d[16];
        (void)snprintf(y, sizeof y, f.fourDigitYear ? "%04d" : "%02d", year);
        (void)snprintf(m, sizeof m, numFmt, tm.tm_mon + 1);
        (void)snprintf(d, sizeof d, numFmt, tm.tm_mday);
        const char *first = f.order == Order::YMD ? y : (f.order == Order::DMY ? d : m);
        const char *second = f.order == Order::MDY ? d : m;
        const char *third = f.order == Order::YMD ? d : y;
        out.append(first).append(f.dateSep).append(second).append(f.dateSep).append(third);
    }
    if (showTime) {
        if (showDate) out += ' ';
        int hour = tm.tm_hour;
        if (!f.hour24) hour = hour % 12 == 0 ? 12 : hour % 12;
        (void)snprintf(part, sizeof part, f.leadingZero || f.hour24 ? "%02d" : "%d", hour);
        out.append(part).append(f.timeSep);
        (void)snprintf(part, sizeof part, "%02d", tm.tm_min);
        out.append(part);
        if (timeFormat != 1) {
            (void)snprintf(part, sizeof part, "%02d", tm.tm_sec);
            out.append(f.timeSep).append(part);
            if (timeFormat == 2) {
                (void)snprintf(part, sizeof part, "%02d", hund);
                out.append(f.decimalSep).append(part);
            }
        }
        if (!f.hour24) out.append(" ").append(tm.tm_hour < 12 ? f.am : f.pm);
    }

    if (out.size() > textBufferLength) return EMU_ERR_BAD_ARGUMENT;  // too small
    memcpy(retText, out.data(), out.size());
    // The text may fill the buffer exactly; the terminator only goes in when
    // there is room for it.
    if (out.size() < textBufferLength) retText[out.size()] = '\0';
    if (retTextLength != nullptr) *retTextLength = static_cast<WORD>(out.size());
    return NOERROR;
}

BOOL TimeGMToLocal(TIME *t) {
    if (emu::InjectedFault("TimeGMToLocal", nullptr)) return FALSE;
    if (t == nullptr) return FALSE;
    int64_t h = emu::TimeDateHundredths(t->GM);
    int64_t secs = FloorDiv(h, 100);
    time_t tt;
    struct tm tm;
    if (!ToTimeT(secs, &tt) || localtime_r(&tt, &tm) == nullptr) return FALSE;
    t->year = tm.tm_year + 1900;
    t->month = tm.tm_mon + 1;
    t->day = tm.tm_mday;
    t->weekday = tm.tm_wday + 1;
    t->hour = tm.tm_hour;
    t->minute = tm.tm_min;
    t->second = tm.tm_sec;
    t->hundredth = static_cast<int>(h - secs * 100);
    t->dst = tm.tm_isdst > 0 ? 1 : 0;
    t->zone = StandardZone(tm);
    return TRUE;
}

BOOL TimeLocalToGM(TIME *t) {
    if (emu::InjectedFault("TimeLocalToGM", nullptr)) return FALSE;
    if (t == nullptr) return FALSE;
    if (!ValidCalendar(t->year, t->month, t->day, t->hour, t->minute, t->second, t->hundredth) ||
        t->zone < -kMaxZoneMinutes || t->zone > kMaxZoneMinutes)
        return FALSE;
    int offset = t->zone + (t->dst ? 60 : 0);
    int64_t days = DaysFromCivil(t->year, t->month, t->day);
    int64_t secs = days * 86400 + int64_t{t->hour} * 3600 + int64_t{t->minute} * 60 + t->second -
                   int64_t{offset} * 60;
    t->GM = emu::MakeTimeDate(secs * 100 + t->hundredth, t->zone, t->dst != 0);
    int64_t sinceSunday = days + 4;  // 1970-01-01 was a Thursday
    t->weekday = static_cast<int>(sinceSunday - FloorDiv(sinceSunday, 7) * 7) + 1;
    return TRUE;
}

}  // extern "C"
