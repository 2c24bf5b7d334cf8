// Scratch directories and captured standard output for the recovery tests.
#ifndef NSFMEND_TESTS_RECOVERY_TEST_UTIL_H
#define NSFMEND_TESTS_RECOVERY_TEST_UTIL_H

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// A fresh directory under /tmp, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/nsfmend-recovery.XXXXXX";
        const char *made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~ScratchDir() {
        if (path_.empty()) return;
        std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
        if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path_.c_str());
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline bool touch(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    return close(fd) == 0;
}

inline bool makeDir(const std::string &path) { return mkdir(path.c_str(), 0755) == 0; }

// Sends standard output to a file for the life of the object; text() reads
// what was written so far.
class CapturedStdout {
public:
    CapturedStdout() {
        fflush(stdout);
        char pattern[] = "/tmp/nsfmend-stdout.XXXXXX";
        fd_ = mkstemp(pattern);
        file_ = pattern;
        saved_ = dup(STDOUT_FILENO);
        dup2(fd_, STDOUT_FILENO);
    }
    ~CapturedStdout() {
        restore();
        close(fd_);
        unlink(file_.c_str());
    }
    CapturedStdout(const CapturedStdout &) = delete;
    CapturedStdout &operator=(const CapturedStdout &) = delete;
    std::string text() {
        fflush(stdout);
        std::string out;
        char buffer[4096];
        ssize_t n;
        off_t offset = 0;
        while ((n = pread(fd_, buffer, sizeof(buffer), offset)) > 0) {
            out.append(buffer, (size_t)n);
            offset += n;
        }
        return out;
    }
    void restore() {
        if (saved_ < 0) return;
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }

private:
    int fd_ = -1;
    int saved_ = -1;
    std::string file_;
};

#endif
