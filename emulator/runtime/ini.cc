#include "runtime/ini.h"

#include <stdint.h>

#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/paths.h"

namespace emu {

namespace {

// notes.ini is a few kilobytes; refusing absurd sizes keeps a stray device
// or huge file from eating the process's memory.
constexpr int64_t kMaxIniBytes = int64_t(16) << 20;

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

void ParseIniText(std::string_view text, IniSettings *out) {
    out->clear();
    // A byte-order mark from a Windows editor is not part of the first name.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t eq = line.find('=');
        // Names are taken byte for byte: " Name=1" is not "Name", just as the
        // program's own notes.ini edit does not match it.
        if (eq == std::string_view::npos || eq == 0) continue;
        out->emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
}

const std::string *FindSetting(const IniSettings &settings, std::string_view name) {
    // The first line that sets a name wins, as on a server.
    for (const auto &kv : settings)
        if (SameName(kv.first, name)) return &kv.second;
    return nullptr;
}

STATUS ReadIni(const std::string &path, IniFile *ini) {
    *ini = IniFile();
    std::string abs;
    if (path.empty() || !MakeAbsolute(path, &abs)) return EMU_ERR_INI_MISSING;
    std::string text;
    // EISDIR for a folder named notes.ini, EFBIG for one too large, EIO, ...
    if (ReadWholeFile(abs, &text, kMaxIniBytes) != 0) return EMU_ERR_INI_MISSING;
    IniFile read;
    read.path = abs;
    ParseIniText(text, &read.settings);
    read.dataDir = DirName(abs);
    if (const std::string *value = FindSetting(read.settings, "Directory")) {
        if (!value->empty())
            read.dataDir = NormalizeAbsolute(IsAbsolute(*value) ? *value : DirName(abs) + "/" + *value);
    }
    if (read.dataDir.size() > 1 && read.dataDir.back() == '/') read.dataDir.pop_back();
    if (read.dataDir.size() > kMaxDataDir) return EMU_ERR_BAD_ARGUMENT;
    *ini = std::move(read);
    return NOERROR;
}

}  // namespace emu
