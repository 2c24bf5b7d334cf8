// A private temporary folder per test, removed with everything in it.
#ifndef EMULATOR_RUNTIME_SCRATCH_DIR_H
#define EMULATOR_RUNTIME_SCRATCH_DIR_H

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

class ScratchDir {
public:
    ScratchDir() {
        const char *base = getenv("TMPDIR");
        std::string tmpl = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                           "/emuruntime.XXXXXX";
        if (mkdtemp(&tmpl[0]) != nullptr) path_ = tmpl;
    }
    ~ScratchDir() {
        if (!path_.empty())
            nftw(path_.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); },
                 16, FTW_DEPTH | FTW_PHYS);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

    // Writes a file; true when every byte went out.
    bool Write(const std::string &name, const std::string &text) const {
        FILE *f = fopen((path_ + "/" + name).c_str(), "wb");
        if (f == nullptr) return false;
        bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
        return fclose(f) == 0 && ok;
    }

private:
    std::string path_;
};

#endif
