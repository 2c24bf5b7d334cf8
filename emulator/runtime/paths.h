// Path names: joining and splitting them, and the two ways a relative name
// is made absolute (by its letters for notes.ini, through the file system
// for a database or backup file).
#ifndef NOTESEMU_RUNTIME_PATHS_H
#define NOTESEMU_RUNTIME_PATHS_H

#include <string>
#include <string_view>

namespace emu {

bool IsAbsolute(std::string_view p);
std::string JoinPath(std::string_view dir, std::string_view name);
// The folder part: "." without a slash, "/" for a name in the root.
std::string DirName(const std::string &path);

// "/a//b/./c/" -> "/a/b/c"; ".." is kept, since folding it past a symbolic
// link would name another folder.
std::string NormalizeAbsolute(const std::string &path);
// The normalised absolute form of path, relative ones against the current
// directory; false when that cannot be found.
bool MakeAbsolute(const std::string &path, std::string *out);
// An absolute form of an existing path (symbolic links resolved), or the
// lexical join with the current directory when it does not exist.
std::string AbsolutePath(const std::string &path);

}  // namespace emu

#endif
