// Reset of the transaction-log control state before a full media recovery.
#ifndef NSFMEND_LOGCTRL_LOGCTRL_H
#define NSFMEND_LOGCTRL_LOGCTRL_H

#include <string>
#include <string_view>

#include "support/result.h"

// Makes notes.ini hold TRANSLOG_Recreate_Logctrl=1; 1 on success, 0 after a message.
int setRecreateLogControl(const char *iniPath);
// Deletes the log control file from the TRANSLOG_Path directory; 1 when
// gone, else 0 after a message.
int removeLogControlFile(const char *dataDirectory);

namespace nsfmend {

// The rewrite itself: every line that sets the key (any case, at the start of
// the line) becomes the setting line; when none does, the setting line is
// added on a line of its own. All other bytes come through unchanged.
std::string withRecreateLogControl(std::string_view content);
// Whether notes.ini content sets TRANSLOG_Recreate_Logctrl=1 (the key as the
// rewrite matches it): a runtime started with it rebuilds a missing log
// control file, which is a change.
bool asksToRecreateLogControl(std::string_view content);
// The value of the first line of notes.ini content that sets name (compared
// without regard to ASCII case), without its line end; empty when none does.
std::string iniSetting(std::string_view content, std::string_view name);
// "Fail to delete log control file <path>": the start of the reset's
// failure line, which the plan foresees word for word.
std::string logControlDeletionFailure(std::string_view path);
// The data directory a runtime started with this notes.ini would report:
// its Directory= setting, a relative one from notes.ini's folder; without
// one, notes.ini's folder.
std::string iniDataDirectory(std::string_view iniPath, std::string_view content);

// The reset's own questions, asked before anything is changed, so that a
// run's plan and the reset cannot judge apart. Each gives ok, or the
// failure whose text is the line the step prints when it fails there.

// setRecreateLogControl: notes.ini read whole, replaceable by this user,
// and room for its new copy on the file system that copy is really written
// to (a symbolic link's target's). Text "Fail to open <path>" or "Fail to
// edit <path>"; the errno says why.
Result checkRecreateLogControl(const char *iniPath);
// removeLogControlFile in logDir: a file there goes when the folder gives
// write and search permission (its own mode does not matter), a folder only
// when empty. ok too when there is none. Text: the whole line,
// "Fail to delete log control file <path>, Reason=<why>".
Result checkRemoveLogControlFile(std::string_view logDir);
// removeLogControlFile with the log directory resolved already: the same
// lines and result.
int removeLogControlFileIn(const std::string &logDir);

}  // namespace nsfmend

#endif
