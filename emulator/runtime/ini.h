// notes.ini: its NAME=VALUE lines, the settings they make, and the data
// directory the file names.
#ifndef NOTESEMU_RUNTIME_INI_H
#define NOTESEMU_RUNTIME_INI_H

#include <stddef.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "notesapi/notesapi.h"

namespace emu {

// OSGetDataDirectory's caller has 1024 bytes; a longer directory cannot be
// handed out whole, and a cut one would name a different folder.
constexpr size_t kMaxDataDir = 1023;

using IniSettings = std::vector<std::pair<std::string, std::string>>;  // file order

struct IniFile {
    std::string path;     // absolute
    std::string dataDir;  // absolute, no trailing "/"
    IniSettings settings;
};

// The NAME=VALUE lines of a notes.ini text, in file order.
void ParseIniText(std::string_view text, IniSettings *out);
// A setting's value (null when absent): names compared without regard to
// ASCII case, the first line that sets a name wins.
const std::string *FindSetting(const IniSettings &settings, std::string_view name);
// Reads the file (a relative path against the current directory) and finds
// its data directory: Directory=, relative to the file's folder, else that
// folder. EMU_ERR_INI_MISSING when it cannot be read, EMU_ERR_BAD_ARGUMENT
// for a data directory longer than kMaxDataDir.
STATUS ReadIni(const std::string &path, IniFile *ini);

}  // namespace emu

#endif
