// Any notes.ini comes back byte for byte, save that each line setting
// TRANSLOG_Recreate_Logctrl becomes the setting line, and that the setting
// line (after a line end, if the file lacked one) is added when none did.
// A UTF-8 byte-order mark in front stays in front and is no part of a key.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>

#include "logctrl/logctrl.h"

namespace {

const std::string kSetting = "TRANSLOG_Recreate_Logctrl=1\n";
const char kKey[] = "translog_recreate_logctrl=";

void Check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "notes.ini rewrite: %s\n", what);
        abort();
    }
}

const std::string &IniPath() {
    static std::string path;
    if (path.empty()) {
        // Memory-backed when possible: the rewrite syncs the file every run.
        const char *base = getenv("TMPDIR");
        if (base == nullptr || *base == '\0') base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        char dir[4096];
        snprintf(dir, sizeof dir, "%s/notes-ini-fuzz-XXXXXX", base);
        Check(mkdtemp(dir) != nullptr, "no temporary folder");
        path = std::string(dir) + "/notes.ini";
        atexit([] {
            unlink(IniPath().c_str());
            rmdir(IniPath().substr(0, IniPath().rfind('/')).c_str());
        });
    }
    return path;
}

std::string Slurp(const std::string &path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY);
    Check(fd >= 0, "rewritten file missing");
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
    close(fd);
    return out;
}

// Runs the real rewrite on a file holding the input, output silenced.
std::string RewriteFile(const std::string &input) {
    const std::string &path = IniPath();
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Check(fd >= 0 && write(fd, input.data(), input.size()) == (ssize_t)input.size(), "cannot write input");
    close(fd);
    fflush(stdout);
    int saved = dup(1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    int rc = setRecreateLogControl(path.c_str());
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(devnull);
    Check(rc == 1, "rewrite of a writable file failed");
    return Slurp(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    std::string output = RewriteFile(input);
    Check(output == nsfmend::withRecreateLogControl(input), "file and text rewrite differ");

    const std::string bom = "\xEF\xBB\xBF";
    const size_t bomLength = input.compare(0, bom.size(), bom) == 0 ? bom.size() : 0;
    Check(output.compare(0, bomLength, bom, 0, bomLength) == 0, "byte-order mark lost");

    // Walk input and output line by line together.
    size_t in = bomLength, out = bomLength;
    bool replaced = false;
    while (in < input.size()) {
        size_t end = input.find('\n', in);
        size_t len = (end == std::string::npos ? input.size() : end + 1) - in;
        bool keyLine = len >= sizeof kKey - 1 && strncasecmp(input.data() + in, kKey, sizeof kKey - 1) == 0;
        // The setting line as written, with blanks or a carriage return
        // after it, already holds the setting and is kept.
        const std::string written = kSetting.substr(0, kSetting.size() - 1);
        const bool kept = keyLine && input.compare(in, written.size(), written) == 0 &&
                          input.substr(in + written.size(), len - written.size())
                                  .find_first_not_of(" \t\r\n") == std::string::npos;
        if (kept) {
            Check(output.compare(out, len, input, in, len) == 0, "setting line changed");
            out += len;
            replaced = true;
        } else if (keyLine) {
            Check(output.compare(out, kSetting.size(), kSetting) == 0, "key line not replaced");
            out += kSetting.size();
            replaced = true;
        } else {
            Check(output.compare(out, len, input, in, len) == 0, "line changed");
            out += len;
        }
        in += len;
    }
    std::string rest = output.substr(out);
    if (replaced) {
        Check(rest.empty(), "setting added although a line was replaced");
    } else {
        bool needsBreak = input.size() > bomLength && input.back() != '\n';
        Check(rest == (needsBreak ? "\n" : "") + kSetting, "setting line not added alone");
    }
    return 0;
}
