// Reset of the transaction-log control state before a full media recovery.
#ifndef NSFMEND_LOGCTRL_LOGCTRL_H
#define NSFMEND_LOGCTRL_LOGCTRL_H

#include <string>
#include <string_view>

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

}  // namespace nsfmend

#endif
