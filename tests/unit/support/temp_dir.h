// A private temporary directory per test, removed with everything in it.
#ifndef NSFMEND_TESTS_SUPPORT_TEMP_DIR_H
#define NSFMEND_TESTS_SUPPORT_TEMP_DIR_H

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

class TempDir {
public:
    TempDir() {
        const char *base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/nsfmend-test-XXXXXX";
        char buf[4096];
        snprintf(buf, sizeof buf, "%s", pattern.c_str());
        if (mkdtemp(buf) != nullptr) path_ = buf;
    }
    ~TempDir() {
        if (path_.empty()) return;
        // Read-only folders made by a test must not block the clean-up.
        std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The names in a folder, "." and ".." left out: what a test expects to find
// there, temporary files included.
inline std::set<std::string> FolderNames(const std::string &folder) {
    std::set<std::string> names;
    DIR *d = opendir(folder.c_str());
    if (d == nullptr) return names;
    while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
    return names;
}

// Runs fn as an unprivileged user (in a child when we are root, whose writes
// no permission stops) and returns its result.
inline int AsUnprivileged(const std::function<int()> &fn) {
    if (geteuid() != 0) return fn();
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(250);
        _exit(fn() & 0xFF);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 251;
}

#endif
