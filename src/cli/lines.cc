#include "cli/lines.h"

#include <errno.h>

#include "support/text.h"

namespace nsfmend {

std::string namesText(const std::vector<std::string> &names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i == kNamesPerLine) return text + ", and " + std::to_string(names.size() - i) + " more";
        text += (i > 0 ? ", " : "") + names[i];
    }
    return text;
}

std::string withReason(const std::string &text, int error) {
    return text + ", Reason=" + systemText(error);
}

std::string withFileReason(const std::string &text, int error) {
    return error == EINVAL ? text + ", Reason=Not a regular file" : withReason(text, error);
}

std::string unreadable(const std::string &text, int error, const std::string &reason) {
    return reason.empty() ? withFileReason(text, error) : text + ", Reason=" + reason;
}

}  // namespace nsfmend
