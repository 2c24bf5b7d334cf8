// Small text helpers shared by the whole program: argument matching, the
// named path join, case conversion, number formatting and failure texts.
#ifndef NSFMEND_SUPPORT_TEXT_H
#define NSFMEND_SUPPORT_TEXT_H

#include <stddef.h>

#include <string>
#include <string_view>

#include "notesapi/notesapi.h"
#include "support/sizes.h"

// The path separator: "/" and its terminator.
extern const char DirSlash[2];

// 1 when text begins with prefix (byte for byte, case-sensitive), else 0.
int isStartsWith(const char *prefix, const char *text);
// Zero-fills dest[0..size) and copies what follows the first strlen(prefix)
// bytes of text when that is 1 to size-1 bytes long; otherwise dest stays empty.
void substring(const char *prefix, const char *text, char *dest, size_t size);
// Appends "/" unless dest is empty or already ends with it, then component:
// joinPath (support/path.h) into a buffer. dest must have room for the
// result (callers use 1024-byte buffers).
void concatPath(char *dest, const char *component);

// The leading underscores are the names callers of this interface know.
char *_strlwr(char *text);  // NOLINT(bugprone-reserved-identifier): established name
char *_strupr(char *text);  // NOLINT(bugprone-reserved-identifier): established name
// Heap copy, free() it; null when out of memory.
char *_strdup(const char *text);  // NOLINT(bugprone-reserved-identifier): established name

// Digits of value in radix 2..36 (anything else means 10); a sign only in radix 10.
char *ltoa(long value, char *dest, int radix);
char *_ltoa(long value, char *dest, int radix);  // NOLINT(bugprone-reserved-identifier): established name

// Fills the 4096-byte buffer with the API's text for status, or
// "error_code=%d" with the whole status when the API has none.
void get_api_error_message(STATUS status, char *buffer);
// Fills buffer with strerror(errorNumber), or "Unknown error." for -1.
void get_sys_error_message(int errorNumber, char *buffer);

#define NSFMEND_LISTING_FAILED "Fail to list directory %s, Reason=%s"

namespace nsfmend {

// Puts text at the start of a message buffer (kMessageSize bytes), NUL
// included, cut to the buffer.
void setMessage(char *msg, const char *text);
// printf into a message buffer (kMessageSize bytes), cut to the buffer.
void formatMessage(char *msg, const char *format, ...) __attribute__((format(printf, 2, 3)));
// printf into a string, cut where a message buffer would cut it.
std::string formatText(const char *format, ...) __attribute__((format(printf, 1, 2)));
// get_sys_error_message as a value, for a line or message that quotes it.
std::string systemText(int errorNumber);
// A size for a person to read: 1536 MiB -> "1.5 GiB" (binary units up to
// PiB, one decimal); below one KiB the whole number and byteWord ("512 B").
std::string sizeText(double bytes, const char *byteWord);
// NSFMEND_LISTING_FAILED with the folder and the system's text: a listing
// the media recovery's sweep or the archive check could not make.
std::string listingFailureText(const char *directory, int error);
// True for one or more ASCII digits and nothing else.
bool allDigits(std::string_view text);

}  // namespace nsfmend

#endif
