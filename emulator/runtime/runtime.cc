// The runtime's life (NotesInitExtended / NotesTerm) and its notes.ini:
// where the file is, what it says, and the data directory it names.
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "emulator.h"
#include "runtime/files.h"
#include "runtime/paths.h"

namespace {

// OSGetDataDirectory's caller has 1024 bytes; a longer directory cannot be
// handed out whole, and a cut one would name a different folder.
constexpr size_t kMaxDataDir = 1023;
// notes.ini is a few kilobytes; refusing absurd sizes keeps a stray device
// or huge file from eating the process's memory.
constexpr int64_t kMaxIniBytes = int64_t(16) << 20;

struct Runtime {
    bool started = false;
    bool loaded = false;
    std::string iniPath;  // absolute
    std::string dataDir;  // absolute, no trailing "/"
    std::vector<std::pair<std::string, std::string>> settings;  // file order
};

Runtime &State() {
    static Runtime state;
    return state;
}

const std::string &Empty() {
    static const std::string empty;
    return empty;
}

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

const std::string *Find(const Runtime &rt, std::string_view name) {
    // The first line that sets a name wins, as on a server.
    for (const auto &kv : rt.settings)
        if (SameName(kv.first, name)) return &kv.second;
    return nullptr;
}

STATUS Load(Runtime *rt, const std::string &iniPath) {
    *rt = Runtime();
    std::string abs;
    if (iniPath.empty() || !emu::MakeAbsolute(iniPath, &abs)) return EMU_ERR_INI_MISSING;
    std::string text;
    // EISDIR for a folder named notes.ini, EFBIG for one too large, EIO, ...
    if (emu::ReadWholeFile(abs, &text, kMaxIniBytes) != 0) return EMU_ERR_INI_MISSING;
    rt->iniPath = abs;
    emu::ParseIniText(text, &rt->settings);

    std::string dir = emu::DirName(abs);
    if (const std::string *value = Find(*rt, "Directory")) {
        if (!value->empty())
            dir = emu::NormalizeAbsolute(emu::IsAbsolute(*value) ? *value : emu::DirName(abs) + "/" + *value);
    }
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.size() > kMaxDataDir) {
        *rt = Runtime();
        return EMU_ERR_BAD_ARGUMENT;
    }
    rt->dataDir = dir;
    rt->loaded = true;
    return NOERROR;
}

}  // namespace

namespace emu {

void ParseIniText(std::string_view text, std::vector<std::pair<std::string, std::string>> *out) {
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

bool Started() { return State().started; }

bool GetSetting(std::string_view name, std::string *value) {
    const std::string *found = Find(State(), name);
    if (found == nullptr) return false;
    if (value != nullptr) *value = *found;
    return true;
}

std::string Setting(std::string_view name) {
    std::string value;
    GetSetting(name, &value);
    return value;
}

const std::string &DataDir() { return State().loaded ? State().dataDir : Empty(); }
const std::string &IniPath() { return State().loaded ? State().iniPath : Empty(); }

STATUS LoadIni(const std::string &iniPath) {
    if (State().started) return EMU_ERR_ALREADY_STARTED;
    return Load(&State(), iniPath);
}

}  // namespace emu

extern "C" {

STATUS NotesInitExtended(int argc, char **argv) {
    STATUS injected;
    if (emu::InjectedFault("NotesInitExtended", &injected)) return injected;
    Runtime &rt = State();
    if (rt.started) return EMU_ERR_ALREADY_STARTED;
    if (argc < 1 || argc > 2 || argv == nullptr || argv[0] == nullptr) return EMU_ERR_BAD_ARGUMENT;

    std::string iniPath;
    if (argc == 2) {
        if (argv[1] == nullptr || argv[1][0] != '=') return EMU_ERR_BAD_ARGUMENT;
        iniPath = argv[1] + 1;
        if (iniPath.empty()) return EMU_ERR_INI_MISSING;
    } else {
        std::string programDir = argv[0];
        iniPath = programDir.empty() ? std::string("notes.ini") : programDir + "/notes.ini";
    }
    STATUS status = Load(&rt, iniPath);
    if (status != NOERROR) return status;
    rt.started = true;
    status = emu::OnRuntimeStart();
    if (status != NOERROR) {
        rt = Runtime();
        return status;
    }
    return NOERROR;
}

void NotesTerm(void) {
    Runtime &rt = State();
    if (rt.started) emu::OnRuntimeStop();
    rt = Runtime();
}

WORD OSGetDataDirectory(char *retPathName) {
    if (retPathName == nullptr) return 0;
    retPathName[0] = '\0';
    STATUS injected;
    if (emu::InjectedFault("OSGetDataDirectory", &injected)) return 0;
    const Runtime &rt = State();
    if (!rt.started || rt.dataDir.size() > kMaxDataDir) return 0;
    memcpy(retPathName, rt.dataDir.c_str(), rt.dataDir.size() + 1);
    return static_cast<WORD>(rt.dataDir.size());
}

BOOL OSGetEnvironmentString(const char *name, char *retValue, WORD bufferLength) {
    // bufferLength counts the value's bytes; the NUL goes one past them.
    if (retValue != nullptr) retValue[0] = '\0';
    STATUS injected;
    if (emu::InjectedFault("OSGetEnvironmentString", &injected)) return FALSE;
    if (name == nullptr || retValue == nullptr || !State().started) return FALSE;
    const std::string *value = Find(State(), name);
    if (value == nullptr) return FALSE;
    size_t n = value->size() < bufferLength ? value->size() : bufferLength;
    memcpy(retValue, value->data(), n);
    retValue[n] = '\0';
    return TRUE;
}

}  // extern "C"
