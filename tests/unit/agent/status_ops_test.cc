// Refusals of the status-string operations that happen before the platform
// is asked anything.
#include "agent/status_ops.h"

#include <string>

#include <gtest/gtest.h>

#include "message_buffer.h"

namespace {

TEST(StatusOps, PathsLongerThanTheirBuffersAreRefusedWhole) {
    const std::string longPath = "/" + std::string(1023, 'p');
    MessageBuffer restoreMsg;
    restoreNsfDB("/backup.nsf", longPath.c_str(), nullptr, restoreMsg.get());
    EXPECT_EQ("Path too long (over 1023 characters): " + longPath, restoreMsg.text());

    MessageBuffer backupMsg;
    restoreNsfDB(longPath.c_str(), "/db.nsf", nullptr, backupMsg.get());
    EXPECT_EQ("Path too long (over 1023 characters): " + longPath, backupMsg.text());

    MessageBuffer recoverMsg;
    recoverNsfDB(longPath.c_str(), "", 0, 0, 0, recoverMsg.get());
    EXPECT_EQ("Path too long (over 1023 characters): " + longPath, recoverMsg.text());
}

TEST(StatusOps, ArchivingRefusesAnEmptyOrOverlongDestination) {
    MessageBuffer empty;
    spoolNsfArchiveLogs("", "", nullptr, nullptr, empty.get());
    EXPECT_EQ("Invalid destination directory: empty", empty.text());

    MessageBuffer direct;
    EXPECT_EQ(1, DoArchiveLogs("", "", nullptr, nullptr, direct.get()));
    EXPECT_EQ("Invalid destination directory: empty", direct.text());

    const std::string tooLong = "/" + std::string(1022, 'd');
    MessageBuffer spool;
    spoolNsfArchiveLogs(tooLong.c_str(), "", nullptr, nullptr, spool.get());
    EXPECT_EQ("Destination directory too long (over 1022 characters): " + tooLong, spool.text());

    const std::string dir = "/" + std::string(1000, 'd') + "/";
    const std::string suffix(20, 's');
    MessageBuffer name;
    EXPECT_EQ(1, DoArchiveLogs(suffix.c_str(), dir.c_str(), nullptr, nullptr, name.get()));
    EXPECT_EQ("Archived name too long (over 1023 characters): " + dir + "S0000000.TXN" + suffix,
              name.text());
}

}  // namespace
