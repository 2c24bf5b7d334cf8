// The result type: which values are success, and which words a failure
// gives at the edge that reports it.
#include "support/result.h"

#include <errno.h>

#include <gtest/gtest.h>

#include "common/emulated_server.h"

namespace {

using nsfmend::Result;

TEST(Result, OnlyZeroAndNoerrorAreSuccess) {
    EXPECT_TRUE(Result().isOk());
    EXPECT_TRUE(Result::system(0).isOk());
    EXPECT_TRUE(Result::api(NOERROR).isOk());
    EXPECT_FALSE(Result::system(-1).isOk());
    EXPECT_FALSE(Result::system(ENOSPC).isOk());
    EXPECT_FALSE(Result::api(5113).isOk());
    EXPECT_FALSE(Result::failure("refused").isOk());
    EXPECT_EQ("", Result::ok().reason());
    EXPECT_EQ("", Result::ok().explanation());
}

TEST(Result, ACodeKeepsItsKindAndAnErrnoIsNeverTakenForAStatus) {
    const Result full = Result::system(ENOSPC);
    EXPECT_EQ(Result::Kind::kSystem, full.kind());
    EXPECT_EQ(ENOSPC, full.error());
    EXPECT_EQ(NOERROR, full.status());
    const Result offline = Result::api(5113);
    EXPECT_EQ(Result::Kind::kApi, offline.kind());
    EXPECT_EQ(5113, offline.status());
    EXPECT_EQ(0, offline.error());
}

TEST(Result, TheWordsAreTheSystemsOrTheStepsOwn) {
    EXPECT_EQ("No space left on device", Result::system(ENOSPC).reason());
    EXPECT_EQ("No space left on device", Result::system(ENOSPC).explanation());
    EXPECT_EQ("Unknown error.", Result::system(-1).reason());
    const Result refused = Result::system(ENAMETOOLONG, "Path too long (over 1023 characters): /x");
    EXPECT_EQ("Path too long (over 1023 characters): /x", refused.explanation());
    EXPECT_EQ("File name too long", refused.reason());
    EXPECT_EQ("refused", Result::failure("refused").explanation());
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
