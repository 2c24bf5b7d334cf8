// The message table: one text for every status the emulator returns.
#include "runtime/messages.h"

#include <string.h>

#include "runtime/fault.h"

namespace emu {

const char *StatusText(STATUS code) {
    // Callers mask off the two flag bits; a full status finds the same text.
    // A switch, so a code given twice in the table does not compile.
    switch (static_cast<STATUS>(code & 0x3FFF)) {
#define NOTESEMU_CASE(name, code, text) \
    case code: return text;
        NOTESEMU_STATUSES(NOTESEMU_CASE)
#undef NOTESEMU_CASE
        default: return "";
    }
}

}  // namespace emu

extern "C" {

// The table is static, so texts are served whether or not the runtime runs.
WORD OSLoadString(HMODULE, STATUS code, char *retBuffer, WORD bufferLength) {
    if (retBuffer == nullptr || bufferLength == 0) return 0;
    retBuffer[0] = '\0';
    if (emu::InjectedFault("OSLoadString", nullptr)) return 0;
    // The table holds codes only: a caller that leaves a status's flag bits
    // on finds no text, as it may with the platform's own library.
    if ((code & 0xC000) != 0) return 0;
    const char *text = emu::StatusText(code);
    size_t n = strlen(text);
    if (n > static_cast<size_t>(bufferLength) - 1) n = static_cast<size_t>(bufferLength) - 1;
    memcpy(retBuffer, text, n);
    retBuffer[n] = '\0';
    return static_cast<WORD>(n);
}

}  // extern "C"
