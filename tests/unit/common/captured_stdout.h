// Standard output captured at the descriptor, so that printf, puts and
// anything else writing to it are all caught, in the order written.
#ifndef NSFMEND_TESTS_COMMON_CAPTURED_STDOUT_H
#define NSFMEND_TESTS_COMMON_CAPTURED_STDOUT_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

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
