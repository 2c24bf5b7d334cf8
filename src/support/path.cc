// Joining, splitting and resolving paths.
#include "support/path.h"

#include <unistd.h>

#include "support/text.h"

namespace nsfmend {

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != DirSlash[0]) path += DirSlash;
    path += name;
    return path;
}

void splitPath(const char *path, std::string *folder, std::string *name) {
    const std::string_view whole(path);
    const size_t slash = whole.rfind(DirSlash[0]);
    if (slash == std::string_view::npos) {
        *folder = ".";
        *name = whole;
        return;
    }
    *folder = slash == 0 ? std::string(DirSlash) : std::string(whole.substr(0, slash));
    *name = whole.substr(slash + 1);
}

std::string parentOf(std::string_view path) {
    std::string folder, name;
    splitPath(std::string(path).c_str(), &folder, &name);
    return folder;
}

std::string baseName(std::string_view path) {
    const size_t slash = path.rfind(DirSlash[0]);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string resolveFrom(std::string_view base, std::string_view path) {
    if (!path.empty() && path[0] == DirSlash[0]) return std::string(path);
    return joinPath(base, path);
}

std::string resolveServerPath(std::string_view dataDir, std::string_view path) {
    return resolveFrom(dataDir, path);
}

std::string resolveBackupPath(std::string_view path) {
    if (!path.empty() && path[0] == DirSlash[0]) return std::string(path);
    char cwd[kPathSize];
    if (getcwd(cwd, sizeof cwd) == nullptr) return std::string(path);
    return joinPath(cwd, path);
}

std::string tooLongText(const char *what, size_t limit, std::string_view path) {
    return std::string(what) + " too long (over " + std::to_string(limit) +
           " characters): " + std::string(path);
}

}  // namespace nsfmend
