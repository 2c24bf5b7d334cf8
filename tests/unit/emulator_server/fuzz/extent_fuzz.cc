// Any bytes given to the extent and log control readers: a status or
// records that encode back to the same bytes.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "formats/extent.h"
#include "formats/log_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    emu::Extent ext;
    if (emu::DecodeExtent(data, size, &ext) == NOERROR) {
        std::string again = emu::EncodeExtentHeader(ext.logId, ext.number, ext.firstSeq);
        for (const emu::LogRecord &rec : ext.records) again += emu::EncodeRecord(rec);
        if (again != input) abort();
    }
    emu::LogControl ctl;
    if (emu::DecodeControl(data, size, &ctl) == NOERROR) {
        // Archived numbers are a set: a file listing one twice is still read.
        emu::LogControl back;
        std::string again = emu::EncodeControl(ctl);
        if (emu::DecodeControl(again.data(), again.size(), &back) != NOERROR) abort();
    }
    return 0;
}
