#include "agent/texts.h"

#include <utility>

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
    std::vector<std::string> texts = {
#define NSFMEND_LIST_TEXT(name, text) text,
        NSFMEND_AGENT_TEXTS(NSFMEND_LIST_TEXT)
#undef NSFMEND_LIST_TEXT
    };
    // What the layers below give the agent to pass on.
    for (std::string text : {
             tooLongText("Destination directory", folder, "%s"),
             tooLongText("Archived name", path, "%s"),
             tooLongText("Source path", path, "%s"),
             std::string(kNoLogDirectoryText),
             tooLongText("Log directory", kLogDirectoryMax, "%s"),
             tooLongText("Path", path, "%s"),
             std::string(kNotRegularDatabase) + ": %s",
             std::string(NSFMEND_OWNER_REFUSAL) + ": %s",
             std::string(NSFMEND_RUN_LOCK_BUSY),
             std::string(NSFMEND_RUN_LOCK_FAILED),
             std::string(NSFMEND_LISTING_FAILED),
         })
        texts.push_back(std::move(text));
    return texts;
}

}  // namespace nsfmend
