// Small text helpers: argument matching, the named path join, case conversion,
// number formatting and failure texts. None keeps state or prints.
#include "support/text.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <string_view>

#include "support/path.h"

const char DirSlash[2] = "/";

using nsfmend::kMessageSize;

int isStartsWith(const char *prefix, const char *text) {
    std::string_view p(prefix), t(text);
    if (p.size() > t.size()) return 0;
    return t.compare(0, p.size(), p) == 0 ? 1 : 0;
}

void substring(const char *prefix, const char *text, char *dest, size_t size) {
    // Unsigned on purpose: a prefix longer than the text gives a huge rest,
    // which the size test below then drops.
    size_t rest = strlen(text) - strlen(prefix);
    memset(dest, 0, size);
    if (rest != 0 && rest < size) memcpy(dest, text + strlen(prefix), rest + 1);
}

void concatPath(char *dest, const char *component) {
    const std::string joined = nsfmend::joinPath(dest, component);
    memcpy(dest, joined.c_str(), joined.size() + 1);
}

char *_strlwr(char *text) {
    for (char *p = text; *p != '\0'; p++) *p = (char)tolower((unsigned char)*p);
    return text;
}

char *_strupr(char *text) {
    for (char *p = text; *p != '\0'; p++) *p = (char)toupper((unsigned char)*p);
    return text;
}

char *_strdup(const char *text) { return strdup(text); }

char *ltoa(long value, char *dest, int radix) {
    if (radix > 36 || radix < 2) radix = 10;
    // One byte per bit of long plus the terminator.
    char digits[sizeof(long) * 8 + 1];
    char *p = digits + sizeof digits - 1;
    *p = '\0';
    char *out = dest;
    // Work on the unsigned magnitude: negating the most negative long would
    // overflow, and other radixes show the two's-complement bit pattern.
    unsigned long magnitude = (unsigned long)value;
    if (radix == 10 && value < 0) {
        *out++ = '-';
        magnitude = 0UL - magnitude;
    }
    do {
        unsigned long digit = magnitude % (unsigned long)radix;
        magnitude /= (unsigned long)radix;
        *--p = (char)(digit < 10 ? '0' + digit : 'A' + (digit - 10));
    } while (magnitude != 0);
    memcpy(out, p, (size_t)(digits + sizeof digits - p));
    return dest;
}

char *_ltoa(long value, char *dest, int radix) { return ltoa(value, dest, radix); }

void get_api_error_message(STATUS status, char *buffer) {
    if (buffer == nullptr) return;
    // A library that leaves the buffer alone for an unknown code must not
    // let an earlier text (such as a success status string) stand.
    buffer[0] = '\0';
    OSLoadString(nullptr, (STATUS)(status & 0x3FFF), buffer, (WORD)kMessageSize);
    if (buffer[0] == '\0') (void)snprintf(buffer, kMessageSize, "error_code=%d", (int)status);
}

void get_sys_error_message(int errorNumber, char *buffer) {
    if (errorNumber == -1) {
        (void)snprintf(buffer, kMessageSize, "%s", "Unknown error.");
        return;
    }
    // strerror's static buffer is not safe in a caller's threads; the GNU
    // strerror_r returns its own static text or fills ours.
    char scratch[256];
    const char *text = strerror_r(errorNumber, scratch, sizeof scratch);
    (void)snprintf(buffer, kMessageSize, "%s", text);
}

namespace nsfmend {

void setMessage(char *msg, const char *text) { (void)snprintf(msg, kMessageSize, "%s", text); }

void formatMessage(char *msg, const char *format, ...) {
    va_list args;
    va_start(args, format);
    (void)vsnprintf(msg, kMessageSize, format, args);
    va_end(args);
}

std::string formatText(const char *format, ...) {
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    (void)vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string systemText(int errorNumber) {
    char text[kMessageSize] = {};
    get_sys_error_message(errorNumber, text);
    return text;
}

std::string sizeText(double bytes, const char *byteWord) {
    static const char *const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    char text[64];
    if (bytes < 1024) {
        (void)snprintf(text, sizeof text, "%.0f %s", bytes, byteWord);
        return text;
    }
    double value = bytes / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= 1024;
        ++unit;
    }
    (void)snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string listingFailureText(const char *directory, int error) {
    return formatText(NSFMEND_LISTING_FAILED, directory, systemText(error).c_str());
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace nsfmend
