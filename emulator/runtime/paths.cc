#include "runtime/paths.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace emu {

bool IsAbsolute(std::string_view p) { return !p.empty() && p[0] == '/'; }

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() && out.back() != '/') out += '/';
    out.append(name.data(), name.size());
    return out;
}

std::string DirName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NormalizeAbsolute(const std::string &path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') i++;
        size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        std::string_view part(path.data() + i, end - i);
        if (!part.empty() && part != ".") {
            out += '/';
            out.append(part.data(), part.size());
        }
        i = end;
    }
    return out.empty() ? std::string("/") : out;
}

bool MakeAbsolute(const std::string &path, std::string *out) {
    if (IsAbsolute(path)) {
        *out = NormalizeAbsolute(path);
        return true;
    }
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return false;
    *out = NormalizeAbsolute(std::string(cwd) + "/" + path);
    return true;
}

std::string AbsolutePath(const std::string &path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) != nullptr) return buf;
    if (IsAbsolute(path)) return path;
    if (getcwd(buf, sizeof buf) == nullptr) return path;
    return JoinPath(buf, path);
}

}  // namespace emu
