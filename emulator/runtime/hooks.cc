// Test hooks: a log of the calls that take a path, and a report of the
// database handles still open when the runtime stops. Each writes only to
// the file its environment variable names, so a real user never sees them.
#include "runtime/hooks.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "runtime/files.h"

namespace emu {

namespace {

// One write per line with O_APPEND, so lines of several processes of one
// test (the program, the tool) never interleave.
void AppendLine(const char *variable, const std::string &line) {
    const char *path = getenv(variable);
    if (path == nullptr || path[0] == '\0') return;
    Fd fd(open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return;
    // A test hook that cannot write is seen by the test as a missing line.
    (void)!write(fd.get(), line.data(), line.size());
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            (void)snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

bool CallLogOn() {
    const char *path = getenv("NOTESEMU_CALL_LOG");
    return path != nullptr && path[0] != '\0';
}

void LogCall(const char *call, std::initializer_list<std::string> fields) {
    std::string line = call;
    for (const std::string &f : fields) line += "\t" + f;
    AppendLine("NOTESEMU_CALL_LOG", line + "\n");
}

void ReportOpenHandle(unsigned handle, const std::string &path) {
    AppendLine("NOTESEMU_HANDLE_REPORT",
               "database handle " + std::to_string(handle) + " still open at NotesTerm: " + path + "\n");
}

}  // namespace emu
