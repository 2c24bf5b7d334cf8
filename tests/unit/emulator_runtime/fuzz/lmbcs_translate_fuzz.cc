// OSTranslate on arbitrary bytes, both ways, into buffers of every small
// size: nothing is written past the buffer, the output is terminated, and
// whatever the decoder makes of the bytes survives a round trip.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "notesapi/notesapi.h"
#include "runtime/lmbcs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    WORD outLength = static_cast<WORD>(data[0] % 64);
    WORD mode = static_cast<WORD>(data[0] >> 7);
    // The input gets no terminator of its own, so reads past size are caught.
    std::vector<char> in(data + 1, data + size);
    WORD inLength = static_cast<WORD>(in.size() > 0xFFFF ? 0xFFFF : in.size());
    std::vector<char> out(outLength + 8u, '\x5A');
    WORD n = OSTranslate(mode, in.data(), inLength, out.data(), outLength);
    for (size_t i = outLength; i < out.size(); i++)
        if (out[i] != '\x5A') abort();
    if (outLength > 0 && (n >= outLength || out[n] != '\0' || strlen(out.data()) != n)) abort();

    std::string native = emu::LmbcsToNative(std::string(in.data(), in.size()));
    std::string lmbcs = emu::NativeToLmbcs(native);
    if (lmbcs.find('\0') != std::string::npos) abort();
    if (emu::LmbcsToNative(lmbcs) != native) abort();
    return 0;
}
