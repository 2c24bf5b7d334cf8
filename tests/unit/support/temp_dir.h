// A private temporary directory per test, removed with everything in it.
#ifndef NSFMEND_TESTS_SUPPORT_TEMP_DIR_H
#define NSFMEND_TESTS_SUPPORT_TEMP_DIR_H

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
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

#endif
