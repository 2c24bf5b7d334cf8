#include "support/result.h"

#include <utility>

#include "support/text.h"

namespace nsfmend {

Result Result::system(int error, std::string text) {
    if (error == 0) return Result();
    return Result(Kind::kSystem, error, std::move(text));
}

Result Result::api(STATUS status, std::string text) {
    if (status == NOERROR) return Result();
    return Result(Kind::kApi, (int)status, std::move(text));
}

std::string Result::reason() const {
    switch (kind_) {
        case Kind::kOk: return "";
        case Kind::kSystem: return systemText(code_);
        case Kind::kApi: {
            char text[kMessageSize] = {};
            get_api_error_message((STATUS)code_, text);
            return text;
        }
    }
    return "";
}

}  // namespace nsfmend
