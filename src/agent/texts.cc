#include "agent/texts.h"

#include "recovery/replace_live.h"
#include "support/path.h"
#include "support/run_lock.h"
#include "support/sizes.h"
#include "support/text.h"
#include "translog/log_directory.h"

namespace nsfmend {

std::vector<std::string> agentTexts() {
    const size_t path = kPathSize - 1;
    const size_t folder = kPathSize - 2;
    return {
        NSFMEND_TEXT_INVALID_DESTINATION,
        tooLongText("Destination directory", folder, "%s"),
        tooLongText("Archived name", path, "%s"),
        tooLongText("Source path", path, "%s"),
        NSFMEND_TEXT_CREATING_DIRECTORY,
        NSFMEND_TEXT_COPYING,
        kNoLogDirectoryText,
        tooLongText("Log directory", kLogDirectoryMax, "%s"),
        NSFMEND_TEXT_NO_FILES_TO_CAPTURE,
        NSFMEND_TEXT_RECORDING,
        NSFMEND_TEXT_WRITING_RECORD,
        tooLongText("Path", path, "%s"),
        std::string(kNotRegularDatabase) + ": %s",
        std::string(NSFMEND_OWNER_REFUSAL) + ": %s",
        NSFMEND_RUN_LOCK_BUSY,
        NSFMEND_RUN_LOCK_FAILED,
        NSFMEND_TEXT_INVALID_BACKUP_DIR,
        NSFMEND_LISTING_FAILED,
        NSFMEND_TEXT_NO_ARCHIVED_EXTENTS,
        NSFMEND_TEXT_UNREADABLE_EXTENT,
        NSFMEND_TEXT_MISSING_EXTENT,
        NSFMEND_TEXT_UNREADABLE_RECORD,
        NSFMEND_TEXT_DAMAGED_RECORD,
        NSFMEND_TEXT_MISSING_FILE,
        NSFMEND_TEXT_UNREADABLE_FILE,
        NSFMEND_TEXT_MISMATCH,
        NSFMEND_TEXT_SEVERAL_LOGS,
        NSFMEND_TEXT_DISAGREEING_COPIES,
        NSFMEND_TEXT_LACKING_EXTENTS,
    };
}

}  // namespace nsfmend
