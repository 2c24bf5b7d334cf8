#include "server/state.h"

#include <errno.h>
#include <stdint.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include "runtime/lmbcs.h"
#include "runtime/messages.h"
#include "runtime/paths.h"

namespace emu {

namespace {

// running=, then one offline= line per offline database, then presence=
// with the process that holds the log folder while the server runs.
constexpr int64_t kMaxStateSize = int64_t(1) << 20;

}  // namespace

STATUS LoadServerState(const std::string &dataDir, ServerState *state) {
    *state = ServerState();
    std::string text;
    int err = ReadWholeFile(JoinPath(dataDir, kStateFileName), &text, kMaxStateSize);
    if (err == ENOENT) return NOERROR;  // never started: stopped, nothing offline
    if (err != 0) return FileStatus(err);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (line == "running=1") state->running = true;
        else if (line.substr(0, 8) == "offline=" && line.size() > 8)
            state->offline.insert(std::string(line.substr(8)));
        else if (line.substr(0, 9) == "presence=")
            state->presence = strtol(std::string(line.substr(9)).c_str(), nullptr, 10);
    }
    return NOERROR;
}

STATUS SaveServerState(const std::string &dataDir, const ServerState &state) {
    std::string text = state.running ? "running=1\n" : "running=0\n";
    for (const std::string &p : state.offline) text += "offline=" + p + "\n";
    if (state.presence > 0) text += "presence=" + std::to_string(state.presence) + "\n";
    return FileStatus(WriteFileAtomic(JoinPath(dataDir, kStateFileName), text, 0644));
}

std::string ResolveDbPath(const std::string &dataDir, const std::string &name) {
    if (name.empty()) return AbsolutePath(JoinPath(dataDir, kDirectoryDb));
    if (IsAbsolute(name)) return AbsolutePath(name);
    return AbsolutePath(JoinPath(dataDir, name));
}

std::string ApiPath(const char *path) {
    std::string native = LmbcsToNative(path);
    if (native != path && access(native.c_str(), F_OK) != 0 && access(path, F_OK) == 0)
        return path;
    return native;
}

bool IsOffline(const std::string &dataDir, const std::string &absPath) {
    ServerState state;
    if (LoadServerState(dataDir, &state) != NOERROR) return false;
    return state.offline.count(absPath) != 0;
}

DirLock::DirLock(const std::string &dataDir)
    : fd_(open(dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    // Best effort: without the lock the model still works for one writer.
    if (fd_.valid()) {
        while (flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

}  // namespace emu
