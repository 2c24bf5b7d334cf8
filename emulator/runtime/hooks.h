// Test hooks: a log of the calls that take a path, and a report of the
// database handles still open when the runtime stops. Each writes only to
// the file its environment variable names, so a real user never sees them.
#ifndef NOTESEMU_RUNTIME_HOOKS_H
#define NOTESEMU_RUNTIME_HOOKS_H

#include <initializer_list>
#include <string>
#include <string_view>

namespace emu {

// Appends "CALL<TAB>FIELD..." to the file $NOTESEMU_CALL_LOG names.
bool CallLogOn();
void LogCall(const char *call, std::initializer_list<std::string> fields);
// Bytes outside printable ASCII, and the backslash, as \xHH: an LMBCS path
// shows exactly as it was passed.
std::string EscapeBytes(std::string_view bytes);
// One line to the file $NOTESEMU_HANDLE_REPORT names.
void ReportOpenHandle(unsigned handle, const std::string &path);

}  // namespace emu

#endif
