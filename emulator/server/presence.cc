#include "server/presence.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "runtime/files.h"
#include "runtime/paths.h"

namespace emu {
namespace {

// How often the process looks whether the server still runs, and how long
// it stands at most: a test's folder that is never removed must not leave
// it behind for ever.
constexpr long kLookMs = 100;
constexpr long kLongestSeconds = 15L * 60;

void Nap(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// There, and not a zombie that nobody has reaped yet (where the process
// that adopts orphans does not reap them).
bool Alive(long pid) {
    if (pid <= 0 || (kill((pid_t)pid, 0) != 0 && errno != EPERM)) return false;
    std::string stat;
    if (ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", &stat, 4096) != 0) return true;
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// The process itself: detached from whoever started it (no terminal, no
// inherited descriptor keeps a test's pipe open), it holds the log folder
// open, again after the folder was replaced, while the state says running.
[[noreturn]] void Stand(const LogConfig &cfg) {
    setsid();
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
    const long most = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (most > 0 ? most : 1024); ++fd) close(fd);
    // The start that made this process saves the state with its ID under
    // the data folder's lock: it is read once that is done.
    { DirLock saved(cfg.dataDir); }
    int held = -1;
    struct stat heldSt = {};
    const time_t until = time(nullptr) + kLongestSeconds;
    while (time(nullptr) < until) {
        ServerState state;
        struct stat dataSt;
        if (stat(cfg.dataDir.c_str(), &dataSt) != 0 ||
            LoadServerState(cfg.dataDir, &state) != NOERROR || !state.running ||
            state.presence != (long)getpid())
            break;
        struct stat st;
        const bool there = stat(cfg.logDir.c_str(), &st) == 0;
        if (held >= 0 && (!there || st.st_ino != heldSt.st_ino || st.st_dev != heldSt.st_dev)) {
            close(held);
            held = -1;
        }
        if (held < 0 && there) {
            held = open(cfg.logDir.c_str(), O_RDONLY | O_DIRECTORY);
            if (held >= 0) fstat(held, &heldSt);
        }
        Nap(kLookMs);
    }
    _exit(0);
}

}  // namespace

void StartPresence(const LogConfig &cfg, ServerState *state) {
    if (Alive(state->presence)) return;
    const pid_t pid = fork();
    if (pid == 0) Stand(cfg);
    state->presence = pid > 0 ? pid : 0;
}

void AwaitPresenceGone(long pid) {
    for (int i = 0; i < 100 && Alive(pid); ++i) Nap(10);
}

}  // namespace emu
