// ConvertTextToTIMEDATE on arbitrary text under a format taken from the
// input: it reads nothing past maxLength, advances the text only within it,
// and every time it accepts can be written back as text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "notesapi/notesapi.h"
#include "runtime/timedate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    INTLFORMAT intl;
    memset(&intl, 0, sizeof intl);
    intl.Flags = static_cast<WORD>((data[0] & 0xFC) | ((data[0] & 1) << 8));
    const char *dateSeps[] = {"/", ".", "-", "", "--"};
    const char *timeSeps[] = {":", "h", ".", ""};
    strcpy(intl.DateString, dateSeps[data[1] % 5]);
    strcpy(intl.TimeString, timeSeps[(data[1] / 5) % 4]);
    strcpy(intl.AMString, (data[1] & 0x80) ? "am" : "");
    strcpy(intl.PMString, "PM");
    memcpy(intl.DecimalString, ".....", 5);  // full width, no terminator

    std::vector<char> text(data + 2, data + size);
    char *p = text.data();
    WORD maxLength = static_cast<WORD>(text.size() > 0xFFFF ? 0xFFFF : text.size());
    TIMEDATE td;
    STATUS st = ConvertTextToTIMEDATE((data[0] & 2) ? nullptr : &intl, nullptr, &p, maxLength, &td);
    if (p < text.data() || p > text.data() + maxLength) abort();
    if (st == NOERROR) {
        char out[81];
        WORD len = 0;
        if (ConvertTIMEDATEToText(&intl, nullptr, &td, out, sizeof out, &len) != NOERROR) abort();
        if (len >= sizeof out || out[len] != '\0') abort();
        TIME t;
        memset(&t, 0, sizeof t);
        t.GM = td;
        if (!TimeGMToLocal(&t) || !TimeLocalToGM(&t)) abort();
        // Zones are whole minutes; old local mean times also had seconds.
        int64_t drift = emu::TimeDateHundredths(t.GM) - emu::TimeDateHundredths(td);
        if (drift <= -6000 || drift >= 6000) abort();
    }
    return 0;
}
