// A private temporary folder per test, removed with everything in it, and
// the file helpers the tests use to set up and read back what is in it.
#ifndef NSFMEND_TESTS_COMMON_TEMP_DIR_H
#define NSFMEND_TESTS_COMMON_TEMP_DIR_H

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

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

// Removes path and everything below it. Folders a test made read-only or
// unsearchable are opened up first, so nothing is left behind.
inline void RemoveTree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    chmod(path.c_str(), 0700);
    for (const std::string &name : FolderNames(path)) RemoveTree(path + "/" + name);
    rmdir(path.c_str());
}

class TempDir {
public:
    TempDir() {
        const char *base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/nsfmend-test-XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) RemoveTree(path_);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes a file whole; true when every byte went out.
inline bool WriteFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return static_cast<bool>(out);
}

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A file's access and modification times, in whole seconds.
inline bool SetTimes(const std::string &path, time_t atime, time_t mtime) {
    struct timeval tv[2] = {{atime, 0}, {mtime, 0}};
    return utimes(path.c_str(), tv) == 0;
}

// The status of path (zeros when it has none).
inline struct stat StatOf(const std::string &path) {
    struct stat st = {};
    (void)stat(path.c_str(), &st);
    return st;
}

inline bool MakeDir(const std::string &path) { return mkdir(path.c_str(), 0755) == 0; }

// An empty file (or an existing one emptied).
inline bool Touch(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    return close(fd) == 0;
}

// Runs fn as an unprivileged user (in a child when we are root, whose writes
// no permission stops) and returns its result.
inline int AsUnprivileged(const std::function<int()> &fn) {
    if (geteuid() != 0) return fn();
    fflush(stdout);
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
