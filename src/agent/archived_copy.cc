#include "agent/archived_copy.h"

#include "agent/status_ops.h"
#include "agent/texts.h"
#include "support/text.h"

namespace nsfmend {
namespace {

// The failure's code kept, its words replaced by the operation's text.
Result withText(const Result &reason, std::string text) {
    if (reason.kind() == Result::Kind::kApi) return Result::api(reason.status(), std::move(text));
    return Result::system(reason.error() != 0 ? reason.error() : -1, std::move(text));
}

}  // namespace

Result copyFailure(const char *source, const std::string &archivedName, const Result &reason) {
    return withText(reason, formatText(NSFMEND_TEXT_COPYING, source, archivedName.c_str(),
                                       reason.explanation().c_str()));
}

Result archivedNameTooLong(const std::string &archivedName) {
    return tooLong("Archived name", archivedName);
}

Result recordFailure(const std::string &archivedName, const std::string &record,
                     const Result &reason) {
    return withText(reason, formatText(NSFMEND_TEXT_RECORDING, archivedName.c_str(), record.c_str(),
                                       reason.explanation().c_str()));
}

Result recordWriteFailure(const std::string &record, const Result &reason) {
    return withText(reason, formatText(NSFMEND_TEXT_WRITING_RECORD, record.c_str(),
                                       reason.explanation().c_str()));
}

}  // namespace nsfmend
