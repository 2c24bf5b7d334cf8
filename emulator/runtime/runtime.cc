#include "runtime/runtime.h"

#include <string.h>

#include "runtime/fault.h"
#include "runtime/ini.h"
#include "runtime/messages.h"

namespace {

struct Runtime {
    bool started = false;
    bool loaded = false;
    emu::IniFile ini;
};

Runtime &State() {
    static Runtime state;
    return state;
}

const std::string &Empty() {
    static const std::string empty;
    return empty;
}

STATUS Load(Runtime *rt, const std::string &iniPath) {
    *rt = Runtime();
    STATUS st = emu::ReadIni(iniPath, &rt->ini);
    if (st != NOERROR) return st;
    rt->loaded = true;
    return NOERROR;
}

}  // namespace

namespace emu {

bool Started() { return State().started; }

bool GetSetting(std::string_view name, std::string *value) {
    const std::string *found = FindSetting(State().ini.settings, name);
    if (found == nullptr) return false;
    if (value != nullptr) *value = *found;
    return true;
}

std::string Setting(std::string_view name) {
    std::string value;
    GetSetting(name, &value);
    return value;
}

const std::string &DataDir() { return State().loaded ? State().ini.dataDir : Empty(); }
const std::string &IniPath() { return State().loaded ? State().ini.path : Empty(); }

STATUS LoadIni(const std::string &iniPath) {
    if (State().started) return EMU_ERR_ALREADY_STARTED;
    return Load(&State(), iniPath);
}

STATUS StartRuntime(int argc, char **argv) {
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
    return NOERROR;
}

void StopRuntime() { State() = Runtime(); }

STATUS CheckCall(const char *call) {
    STATUS injected;
    if (InjectedFault(call, &injected)) return injected;
    return State().started ? STATUS(NOERROR) : STATUS(EMU_ERR_NOT_STARTED);
}

}  // namespace emu

extern "C" {

WORD OSGetDataDirectory(char *retPathName) {
    if (retPathName == nullptr) return 0;
    retPathName[0] = '\0';
    if (emu::CheckCall("OSGetDataDirectory") != NOERROR) return 0;
    const std::string &dir = State().ini.dataDir;
    if (dir.size() > emu::kMaxDataDir) return 0;
    memcpy(retPathName, dir.c_str(), dir.size() + 1);
    return static_cast<WORD>(dir.size());
}

BOOL OSGetEnvironmentString(const char *name, char *retValue, WORD bufferLength) {
    // bufferLength counts the value's bytes; the NUL goes one past them.
    if (retValue != nullptr) retValue[0] = '\0';
    if (emu::CheckCall("OSGetEnvironmentString") != NOERROR) return FALSE;
    if (name == nullptr || retValue == nullptr) return FALSE;
    const std::string *value = emu::FindSetting(State().ini.settings, name);
    if (value == nullptr) return FALSE;
    size_t n = value->size() < bufferLength ? value->size() : bufferLength;
    memcpy(retValue, value->data(), n);
    retValue[n] = '\0';
    return TRUE;
}

}  // extern "C"
