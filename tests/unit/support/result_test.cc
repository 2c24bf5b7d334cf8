// The result type's rules: only a zero code is success, a code is never read
// as the other kind, and the words a failure gives are the failing step's
// own or else its code's (the API's text found whatever flag bits the status
// carries).
#include "support/result.h"

#include <errno.h>

#include <gtest/gtest.h>

#include "common/emulated_server.h"

namespace {

using nsfmend::Result;

TEST(Result, OkOnlyAtZeroAndTheStepsOwnWordsBeforeTheCodes) {
    const struct {
        Result result;
        const char *explanation, *reason;
    } kCases[] = {
        {Result::system(0), "", ""},
        {Result::api(NOERROR), "", ""},
        {Result::system(ENOSPC), "No space left on device", "No space left on device"},
        {Result::system(-1), "Unknown error.", "Unknown error."},
        {Result::system(ENAMETOOLONG, "Path too long: /x"), "Path too long: /x", "File name too long"},
        {Result::failure("refused"), "refused", "Unknown error."},
    };
    for (const auto &c : kCases) {
        EXPECT_EQ(c.explanation[0] == '\0', c.result.isOk()) << c.explanation;
        EXPECT_EQ(c.explanation, c.result.explanation());
        EXPECT_EQ(c.reason, c.result.reason());
    }
    EXPECT_EQ(NOERROR, Result::system(5113).status());
    EXPECT_EQ(0, Result::api(ENOSPC).error());
}

class ResultWithRuntime : public EmulatedServer {};

TEST_F(ResultWithRuntime, AStatusGivesTheApisTextEvenWithFlagBits) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    const std::string text = Result::api(5113).reason();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(std::string::npos, text.find("error_code"));
    EXPECT_EQ(text, Result::api((STATUS)(5113 | 0x8000)).reason());
    EXPECT_EQ("error_code=16383", Result::api(0x3FFF).reason());
}

}  // namespace
