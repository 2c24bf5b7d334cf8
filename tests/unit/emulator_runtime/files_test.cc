// The emulator's own replacement of a file: a temporary file that a killed
// writer left beside it goes with the next write of the same file, one a
// live writer holds stays, and other files' temporary files are no business
// of this one's.
#include "runtime/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <set>
#include <string>

#include "common/temp_dir.h"

namespace {

TEST(EmulatorFiles, AKilledWritersTemporaryFileGoesWithTheNextWriteOfThatFile) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "ann.nsf", "old"));
    ASSERT_TRUE(WriteFile(dir / "ann.nsf.tmp-a1B2c3", "120 MB of a killed recovery"));
    ASSERT_TRUE(WriteFile(dir / "bob.nsf.tmp-a1B2c3", "another file's"));
    ASSERT_TRUE(WriteFile(dir / "ann.nsf.tmp-a1B2c", "not of mkstemp's form"));
    ASSERT_EQ(0, emu::WriteFileAtomic(dir / "ann.nsf", "new"));
    EXPECT_EQ("new", ReadFile(dir / "ann.nsf"));
    EXPECT_EQ((std::set<std::string>{"ann.nsf", "bob.nsf.tmp-a1B2c3", "ann.nsf.tmp-a1B2c"}),
              FolderNames(dir.path()));
}

TEST(EmulatorFiles, ALiveWritersTemporaryFileStays) {
    TempDir dir;
    emu::AtomicFile live;
    ASSERT_EQ(0, live.Create(dir / "nlogctrl.lfh"));
    ASSERT_EQ(1u, FolderNames(dir.path()).size());
    // Another process cleaning up meanwhile: a lock of its own on the file.
    emu::RemoveStaleTemps(dir / "nlogctrl.lfh");
    ASSERT_EQ(1u, FolderNames(dir.path()).size());
    ASSERT_EQ(0, emu::WriteAll(live.fd(), "state", 5));
    ASSERT_EQ(0, live.Commit());
    EXPECT_EQ("state", ReadFile(dir / "nlogctrl.lfh"));
    EXPECT_EQ(std::set<std::string>{"nlogctrl.lfh"}, FolderNames(dir.path()));
}

TEST(EmulatorFiles, AStaleOneGoesEvenWithoutAWriteWhenAskedFor) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "nlogctrl.lfh.tmp-Zz9Yy8", "torn"));
    emu::RemoveStaleTemps(dir / "nlogctrl.lfh");
    EXPECT_TRUE(FolderNames(dir.path()).empty());
}

}  // namespace
