// Replacing a live database, as its two callers hear of it: the steps in
// their order, the first failure as the result, and what is left behind
// (the live file, the database's state, the offline mark) after each way it
// can fail. The command line and the agent differ only in what status 5113
// (no server holds the database) means.
#include "recovery/replace_live.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/emulated_server.h"
#include "support/sizes.h"

namespace {

using nsfmend::replaceLiveDatabase;
using nsfmend::RestoreReport;
using nsfmend::RestoreStep;
using nsfmend::Result;
using nsfmend::WhenNotInUse;

const char *stepName(RestoreStep step) {
    switch (step) {
        case RestoreStep::kOffline: return "offline";
        case RestoreStep::kMark: return "mark";
        case RestoreStep::kResumed: return "resumed";
        case RestoreStep::kCopy: return "copy";
        case RestoreStep::kOnline: return "online";
    }
    return "?";
}

// Every step and failure in the order the caller hears of them.
class Recorder : public RestoreReport {
public:
    void starting(RestoreStep step) override { events.push_back(stepName(step)); }
    void failed(RestoreStep step, const Result &why) override {
        events.push_back(std::string("failed ") + stepName(step) + ": " + why.reason());
    }
    nsfmend::Progress *progress() override { return nullptr; }
    std::vector<std::string> events;
};

class ReplaceLive : public EmulatedServer {
protected:
    void SetUp() override {
        EmulatedServer::SetUp();
        ASSERT_NO_FATAL_FAILURE(StartServer());
        ASSERT_EQ(0, Emu({"create", "mail.nsf"}));
        ASSERT_NO_FATAL_FAILURE(Put("mail.nsf", 1, "backed up", "2013-11-15T11:00:00Z"));
        ASSERT_EQ(0, Emu({"backup", "mail.nsf", backup_}));
        ASSERT_NO_FATAL_FAILURE(Put("mail.nsf", 1, "damaged", "2013-11-15T12:00:00Z"));
        ASSERT_EQ(0, Emu({"server", "start"}));
        before_ = ReadFile(live_);
    }

    Result replace(WhenNotInUse notInUse = WhenNotInUse::kReplace) {
        return replaceLiveDatabase(backup_.c_str(), live_.c_str(), live_.c_str(), notInUse, &report_);
    }
    bool markThere() {
        struct stat st;
        return lstat(nsfmend::offlineMarkPath(live_).c_str(), &st) == 0;
    }
    std::string reason(STATUS status) { return Result::api(status).reason(); }
    // The steps heard, then what is left: the live file (the backup's bytes
    // or the damaged ones), the database's state ("" not asked) and the mark.
    void expectLeft(const std::vector<std::string> &events, bool copied, const char *state,
                    bool mark) {
        EXPECT_EQ(events, report_.events);
        EXPECT_EQ(copied ? ReadFile(backup_) : before_, ReadFile(live_));
        EXPECT_EQ(state, *state == '\0' ? "" : Field("mail.nsf", "state"));
        EXPECT_EQ(mark, markThere());
    }

    const std::string backup_ = root_ + "/mail-backup.nsf";
    const std::string live_ = dataDir_ + "/mail.nsf";
    std::string before_;
    Recorder report_;
};

TEST_F(ReplaceLive, OfflineCopyOnlineAndTheMarkGone) {
    EXPECT_TRUE(replace().isOk());
    expectLeft({"offline", "copy", "online"}, true, "online", false);
}

TEST_F(ReplaceLive, AFailedCopyLeavesTheFileAndBringsTheDatabaseBackOnline) {
    // A source the copy refuses once the database is offline: a path past
    // the path buffer, which the file system itself still opens.
    std::string deep = root_;
    while (deep.size() < nsfmend::kPathSize) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(0, mkdir(deep.c_str(), 0755));
    }
    const std::string source = deep + "/mail.nsf";
    ASSERT_EQ(0, rename(backup_.c_str(), source.c_str()));
    const Result result =
        replaceLiveDatabase(source.c_str(), live_.c_str(), live_.c_str(), WhenNotInUse::kReplace,
                            &report_);
    EXPECT_EQ(ENAMETOOLONG, result.error());
    expectLeft({"offline", "copy", "failed copy: File name too long", "online"}, false, "online",
               false);
}

TEST_F(ReplaceLive, ASourceThatCannotBeReadFailsTheCopyBeforeTheDatabaseGoesOffline) {
    ASSERT_EQ(0, unlink(backup_.c_str()));
    const Result result = replace();
    EXPECT_EQ(ENOENT, result.error());
    expectLeft({"failed copy: No such file or directory"}, false, "online", false);
}

TEST_F(ReplaceLive, AFailedOnlineKeepsTheCopyAndTheMarkForTheNextRestore) {
    setenv("NOTESEMU_FAIL", "NSFBringDatabaseOnline=0x1234", 1);
    const Result result = replace();
    unsetenv("NOTESEMU_FAIL");
    EXPECT_EQ(0x1234, result.status());
    expectLeft({"offline", "copy", "online", "failed online: " + reason(0x1234)}, true, "offline",
               true);

    // The next restore finds the mark, undoes the offline state it left and
    // says so.
    report_.events.clear();
    EXPECT_TRUE(replace(WhenNotInUse::kStop).isOk());
    expectLeft({"offline", "resumed", "copy", "online"}, true, "online", false);
}

TEST_F(ReplaceLive, AnOfflineTheServerRefusesStopsBeforeTheCopy) {
    setenv("NOTESEMU_FAIL", "NSFTakeDatabaseOffline=0x1234", 1);
    const Result result = replace();
    unsetenv("NOTESEMU_FAIL");
    EXPECT_EQ(0x1234, result.status());
    expectLeft({"offline", "failed offline: " + reason(0x1234)}, false, "", false);
}

TEST_F(ReplaceLive, NoServerHoldingTheDatabaseIsReplacedByTheCommandLineOnly) {
    ASSERT_EQ(0, Emu({"server", "stop"}));
    const std::string notInUse = "failed offline: " + reason(5113);

    const Result agent = replace(WhenNotInUse::kStop);
    EXPECT_EQ(5113, agent.status());
    expectLeft({"offline", notInUse}, false, "", false);

    report_.events.clear();
    EXPECT_TRUE(replace(WhenNotInUse::kReplace).isOk());
    // Nothing is brought online: no server had it.
    expectLeft({"offline", notInUse, "copy"}, true, "", false);
}

TEST_F(ReplaceLive, AMarkThatCannotBeWrittenStopsBeforeTheOffline) {
    // A folder in the mark's place: the durable writer cannot replace it.
    ASSERT_EQ(0, mkdir(nsfmend::offlineMarkPath(live_).c_str(), 0700));
    const Result result = replace();
    EXPECT_FALSE(result.isOk());
    ASSERT_EQ(2u, report_.events.size());
    EXPECT_EQ("offline", report_.events[0]);
    EXPECT_EQ(0u, report_.events[1].rfind("failed mark: ", 0)) << report_.events[1];
    EXPECT_EQ(before_, ReadFile(live_));
    EXPECT_EQ("online", Field("mail.nsf", "state"));
}

}  // namespace
