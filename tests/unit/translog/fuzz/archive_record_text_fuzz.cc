// Any bytes as an archive record: read without harm, and what reads as a
// record is written back as one that reads the same, names escaped as
// sha256sum escapes them included.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "translog/archive_record.h"

namespace {

void Check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "archive record: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<nsfmend::RecordEntry> entries;
    const size_t bad = nsfmend::parseRecord(input, &entries);
    if (bad != 0) {
        Check(bad <= size + 1, "damage past the last line");
        return 0;
    }
    const std::string written = nsfmend::formatRecord(entries);
    std::vector<nsfmend::RecordEntry> again;
    Check(nsfmend::parseRecord(written, &again) == 0, "a written record does not read");
    Check(again.size() == entries.size(), "entries lost or gained");
    for (size_t i = 0; i < entries.size(); ++i) {
        Check(again[i].name == entries[i].name, "name changed");
        Check(again[i].sha256 == entries[i].sha256, "checksum changed");
        Check(again[i].size == entries[i].size, "size changed");
        Check(again[i].logId == entries[i].logId, "log ID changed");
    }
    Check(nsfmend::formatRecord(again) == written, "written twice, written differently");
    return 0;
}
