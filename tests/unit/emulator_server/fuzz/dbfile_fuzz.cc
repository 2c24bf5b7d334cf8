// Any bytes given to the database reader: a status or a database that
// writes back to the very same bytes, never a crash or an over-read.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "formats/dbfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    emu::DbFile db;
    if (emu::DecodeDb(data, size, &db) != NOERROR) return 0;
    // The format has one encoding per database, so an accepted file must
    // re-encode to itself; anything else means the reader accepted damage.
    std::string again = emu::EncodeDb(db);
    if (again != std::string(reinterpret_cast<const char *>(data), size)) abort();
    return 0;
}
