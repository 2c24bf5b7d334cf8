// The time stamp the archiving hands back.
#include "agent/archive.h"

#include <regex.h>
#include <string.h>

#include <gtest/gtest.h>

#include "agent/include/nsfmend/agent.h"

namespace {

TEST(TimeStamp, IsTheLocalTimeInTheFormatHandedBack) {
    char stamp[NSFMEND_TIMESTAMP_SIZE];
    char format[NSFMEND_TIMEFORMAT_SIZE];
    memset(stamp, 'x', sizeof stamp);
    memset(format, 'x', sizeof format);
    getCurrentTime(stamp, format);
    EXPECT_STREQ("%Y-%m-%d-%H-%M-%S", format);
    regex_t pattern;
    ASSERT_EQ(0, regcomp(&pattern, "^[0-9]{4}(-[0-9]{2}){5}$", REG_EXTENDED | REG_NOSUB));
    EXPECT_EQ(0, regexec(&pattern, stamp, 0, nullptr, 0)) << stamp;
    regfree(&pattern);
}

}  // namespace
