// The emulator's notes.ini reader on arbitrary bytes: every setting it
// keeps has a name, and neither name nor value spans a line.
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::pair<std::string, std::string>> settings;
    emu::ParseIniText(std::string_view(reinterpret_cast<const char *>(data), size), &settings);
    for (const auto &kv : settings) {
        if (kv.first.empty() || kv.first.find('=') != std::string::npos) abort();
        if (kv.first.find('\n') != std::string::npos || kv.second.find('\n') != std::string::npos) abort();
    }
    return 0;
}
