// Paths: joined, split and resolved in one place, so that the program, the
// durable writer and the server agree on which file a name means. Paths are
// native byte strings; nothing here touches the file system except the
// working directory a backup path is resolved from.
#ifndef NSFMEND_SUPPORT_PATH_H
#define NSFMEND_SUPPORT_PATH_H

#include <stddef.h>

#include <string>
#include <string_view>

#include "support/sizes.h"

namespace nsfmend {

// folder + "/" + name, the "/" left out when folder is empty or ends with
// one. An empty name leaves folder with a final "/": the prefix archived
// names are built on.
std::string joinPath(std::string_view folder, std::string_view name);

// The folder part and the name part of a path, as the durable writer opens
// them: "." for a bare name, "/" for a file at the root.
void splitPath(const char *path, std::string *folder, std::string *name);
// splitPath's folder part alone.
std::string parentOf(std::string_view path);
// splitPath's name part alone: what follows the last "/".
std::string baseName(std::string_view path);

// path taken from base when relative: an absolute path as it is, a relative
// one joined to base.
std::string resolveFrom(std::string_view base, std::string_view path);
// A database path as the server resolves it: relative ones below the data
// directory. The program's own file operations on a database use this
// too, so that they act on the file the server takes offline.
std::string resolveServerPath(std::string_view dataDir, std::string_view path);
// A backup file's path as the recovery takes it: relative ones from the
// working directory (left as they are when that cannot be asked).
std::string resolveBackupPath(std::string_view path);

// Whether a path and its terminator fit a buffer of `size` bytes.
inline bool fitsBuffer(std::string_view path, size_t size = kPathSize) {
    return path.size() < size;
}
// The refusal of a path or name that does not fit: "<what> too long (over
// <limit> characters): <path>", the limit being the most a buffer of that
// kind holds. Never cut: a path cut short names another file.
std::string tooLongText(const char *what, size_t limit, std::string_view path);

}  // namespace nsfmend

#endif
