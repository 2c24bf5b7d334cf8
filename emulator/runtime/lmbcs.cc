// LMBCS <-> UTF-8. The encoder writes an LMBCS text that never holds a zero
// byte, because every consumer of a translated path treats it as a C string:
//   printable ASCII and DEL        as themselves
//   C0 controls U+0001..U+001F     0x0F, code + 0x20  (control group)
//   C1 controls U+0080..U+009F     0x0F, code
//   U+00A0..U+00FF                 one byte of code page 850 (group 1, the
//                                  default optimisation group)
//   every other code unit          0x14, high byte, low byte (Unicode group);
//                                  a zero low byte is written 0x14, 0xF6, high
//   supplementary characters       two Unicode groups (surrogate pair)
// The decoder reads all of the above plus raw TAB/LF/CR and the explicit
// group-1 prefix; other national groups become U+FFFD.
#include "runtime/lmbcs.h"

#include <string.h>

#include <string>

#include "runtime/fault.h"

namespace {

constexpr unsigned char kGroup1 = 0x01;
constexpr unsigned char kGroupControl = 0x0F;
constexpr unsigned char kGroupUnicode = 0x14;
constexpr unsigned char kZeroLowByte = 0xF6;
constexpr uint32_t kReplacement = 0xFFFD;

// Code page 850, bytes 0x80..0xFF.
constexpr uint16_t kCp850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2,
    0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4,
    0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD,
    0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8, 0x00B0,
    0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// Code page 850 byte for U+00A0..U+00FF (all of them are in it).
unsigned char Cp850Byte(uint32_t cp) {
    for (int i = 0; i < 128; i++)
        if (kCp850[i] == cp) return static_cast<unsigned char>(0x80 + i);
    return 0;
}

// Output with a hard capacity: a unit is written whole or not at all, and
// one byte always stays free for the terminator.
class Sink {
public:
    Sink(char *buf, size_t capacity) : buf_(buf), cap_(capacity) {}
    explicit Sink(std::string *str) : str_(str) {}

    bool Put(const unsigned char *bytes, size_t n) {
        if (str_ != nullptr) {
            str_->append(reinterpret_cast<const char *>(bytes), n);
            return true;
        }
        if (full_ || cap_ == 0 || len_ + n > cap_ - 1) {
            full_ = true;
            return false;
        }
        memcpy(buf_ + len_, bytes, n);
        len_ += n;
        return true;
    }
    void Terminate() {
        if (buf_ != nullptr && cap_ > 0) buf_[len_] = '\0';
    }
    size_t length() const { return str_ != nullptr ? str_->size() : len_; }

private:
    char *buf_ = nullptr;
    size_t cap_ = 0;
    size_t len_ = 0;
    bool full_ = false;
    std::string *str_ = nullptr;
};

// The longest valid UTF-8 sequence at in[0..n) as a code point; on an
// ill-formed sequence, U+FFFD and the length of its maximal subpart.
uint32_t DecodeUtf8(const unsigned char *in, size_t n, size_t *used) {
    unsigned char b = in[0];
    *used = 1;
    if (b < 0x80) return b;
    size_t need;
    uint32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;  // overlong
        if (b == 0xED) hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;  // overlong
        if (b == 0xF4) hi = 0x8F;  // beyond U+10FFFF
    } else {
        return kReplacement;
    }
    for (size_t i = 1; i <= need; i++) {
        if (i >= n) return kReplacement;
        unsigned char c = in[i];
        if (c < lo || c > hi) return kReplacement;
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (c & 0x3F);
        *used = i + 1;
    }
    return cp;
}

size_t EncodeUtf8(uint32_t cp, unsigned char *out) {
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

size_t UnicodeGroup(uint16_t unit, unsigned char *out) {
    out[0] = kGroupUnicode;
    unsigned char high = static_cast<unsigned char>(unit >> 8);
    unsigned char low = static_cast<unsigned char>(unit & 0xFF);
    if (low == 0) {
        out[1] = kZeroLowByte;
        out[2] = high;
    } else {
        out[1] = high;
        out[2] = low;
    }
    return 3;
}

// One character as LMBCS (at most two Unicode groups, 6 bytes).
size_t EncodeLmbcs(uint32_t cp, unsigned char *out) {
    if (cp >= 0x20 && cp <= 0x7F) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp >= 0x01 && cp <= 0x1F) {
        out[0] = kGroupControl;
        out[1] = static_cast<unsigned char>(cp + 0x20);
        return 2;
    }
    if (cp >= 0x80 && cp <= 0x9F) {
        out[0] = kGroupControl;
        out[1] = static_cast<unsigned char>(cp);
        return 2;
    }
    if (cp >= 0xA0 && cp <= 0xFF) {
        out[0] = Cp850Byte(cp);
        return 1;
    }
    // 0x14 0xF6 xx means a zero low byte, so U+F601..U+F6FF (private use)
    // have no form of their own.
    if (cp > 0xF600 && cp <= 0xF6FF) cp = kReplacement;
    if (cp < 0x10000) return UnicodeGroup(static_cast<uint16_t>(cp), out);
    uint32_t v = cp - 0x10000;
    size_t n = UnicodeGroup(static_cast<uint16_t>(0xD800 | (v >> 10)), out);
    return n + UnicodeGroup(static_cast<uint16_t>(0xDC00 | (v & 0x3FF)), out + n);
}

void NativeToLmbcsInto(const unsigned char *in, size_t n, Sink *sink) {
    size_t i = 0;
    while (i < n) {
        size_t used;
        uint32_t cp = DecodeUtf8(in + i, n - i, &used);
        unsigned char bytes[6];
        size_t len = EncodeLmbcs(cp, bytes);
        if (!sink->Put(bytes, len)) break;
        i += used;
    }
}

// Reads one Unicode group at in[i..n): the code unit, or -1 when truncated.
long UnicodeUnit(const unsigned char *in, size_t n, size_t i) {
    if (i + 3 > n || in[i] != kGroupUnicode) return -1;
    if (in[i + 1] == kZeroLowByte) return static_cast<long>(in[i + 2]) << 8;
    return (static_cast<long>(in[i + 1]) << 8) | in[i + 2];
}

// One character of LMBCS at in[i..n); *used is at least 1.
uint32_t DecodeLmbcs(const unsigned char *in, size_t n, size_t i, size_t *used) {
    unsigned char b = in[i];
    *used = 1;
    if (b >= 0x20 && b <= 0x7F) return b;
    if (b >= 0x80) return kCp850[b - 0x80];
    if (b == 0x09 || b == 0x0A || b == 0x0D || b == 0x19) return b;
    if (b == kGroupControl) {
        if (i + 1 >= n) return kReplacement;
        unsigned char c = in[i + 1];
        *used = 2;
        if (c > 0x20 && c <= 0x3F) return static_cast<uint32_t>(c - 0x20);
        if (c >= 0x80 && c <= 0x9F) return c;
        return kReplacement;
    }
    if (b == kGroup1) {
        if (i + 1 < n && in[i + 1] >= 0x80) {
            *used = 2;
            return kCp850[in[i + 1] - 0x80];
        }
        return kReplacement;
    }
    if (b == kGroupUnicode) {
        long unit = UnicodeUnit(in, n, i);
        if (unit < 0) {
            *used = n - i;  // a truncated group ends the text
            return kReplacement;
        }
        *used = 3;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            long low = UnicodeUnit(in, n, i + 3);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                *used = 6;
                return 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) +
                       (static_cast<uint32_t>(low) - 0xDC00);
            }
            return kReplacement;
        }
        if ((unit >= 0xDC00 && unit <= 0xDFFF) || unit == 0) return kReplacement;
        return static_cast<uint32_t>(unit);
    }
    // A national group we have no table for: skip its one (single-byte
    // groups) or two (double-byte groups 0x10..0x13) data bytes.
    if ((b >= 0x02 && b <= 0x08) || b == 0x0B || b == 0x0C || b == 0x0E ||
        (b >= 0x10 && b <= 0x13)) {
        size_t data = b >= 0x10 ? 2 : 1;
        while (*used <= data && i + *used < n && in[i + *used] >= 0x80) ++*used;
    }
    return kReplacement;
}

void LmbcsToNativeInto(const unsigned char *in, size_t n, Sink *sink) {
    size_t i = 0;
    while (i < n) {
        size_t used;
        uint32_t cp = DecodeLmbcs(in, n, i, &used);
        unsigned char bytes[4];
        size_t len = EncodeUtf8(cp, bytes);
        if (!sink->Put(bytes, len)) break;
        i += used;
    }
}

using Direction = void (*)(const unsigned char *in, size_t n, Sink *sink);

// The text ends at its length or at its first zero byte.
void Translate(Direction direction, const char *in, size_t max, Sink *sink) {
    direction(reinterpret_cast<const unsigned char *>(in), strnlen(in, max), sink);
}

std::string TranslateToString(Direction direction, std::string_view text) {
    std::string out;
    Sink sink(&out);
    Translate(direction, text.data(), text.size(), &sink);
    return out;
}

}  // namespace

namespace emu {

std::string LmbcsToNative(std::string_view lmbcs) { return TranslateToString(LmbcsToNativeInto, lmbcs); }

std::string NativeToLmbcs(std::string_view native) { return TranslateToString(NativeToLmbcsInto, native); }

}  // namespace emu

extern "C" {

// Works whether or not the runtime is started: it needs no settings.
WORD OSTranslate(WORD mode, const char *in, WORD inLength, char *out, WORD outLength) {
    if (out == nullptr || outLength == 0) return 0;
    out[0] = '\0';
    if (emu::InjectedFault("OSTranslate", nullptr)) return 0;
    if (in == nullptr) return 0;
    Sink sink(out, outLength);
    if (mode == TRANSLATE_NATIVE_TO_LMBCS) Translate(NativeToLmbcsInto, in, inLength, &sink);
    else if (mode == TRANSLATE_LMBCS_TO_NATIVE) Translate(LmbcsToNativeInto, in, inLength, &sink);
    sink.Terminate();
    return static_cast<WORD>(sink.length());
}

}  // extern "C"
