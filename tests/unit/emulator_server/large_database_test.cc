// Databases of several gibibytes: opened, checked, backed up and recovered
// a note at a time, in either build. The files are padded with deleted
// stubs whose text is a hole, so the tests write almost nothing.
#include <fcntl.h>
#include <sys/stat.h>

#include "server_fixture.h"

namespace {

class LargeDatabaseTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        Init();
        ASSERT_EQ(Emu({"create", "big.nsf"}), 0);
        Put("big.nsf", 1, "one", "2013-11-15T10:00:00Z");
        ASSERT_EQ(Emu({"pad", "big.nsf", "5G"}), 0);
        backup_ = root_ + "/big-backup.nsf";
        ASSERT_EQ(Emu({"backup", "big.nsf", backup_}), 0);
        Put("big.nsf", 1, "one, edited", "2013-11-15T11:00:00Z");
        Put("big.nsf", 0x7FFFFFFF, "after the padding", "2013-11-15T12:00:00Z");
        ASSERT_EQ(Start(), NOERROR);
    }

    static uint64_t Size(const std::string &path, uint64_t *allocated = nullptr) {
        struct stat st;
        EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
        if (allocated) *allocated = static_cast<uint64_t>(st.st_blocks) * 512;
        return static_cast<uint64_t>(st.st_size);
    }

    std::string backup_;
};

TEST_F(LargeDatabaseTest, OpensAndRecoversPastFourGibibytesKeepingTheHoles) {
    EXPECT_GE(Size(dataDir_ + "/big.nsf"), uint64_t(5) << 30);
    DBHANDLE h = 0;
    ASSERT_EQ(NSFDbOpen("big.nsf", &h), NOERROR);
    BOOL logged = FALSE;
    ASSERT_EQ(NSFDbGetLogInfo(h, 0, &logged, nullptr, nullptr, nullptr), NOERROR);
    EXPECT_TRUE(logged);
    ASSERT_EQ(NSFDbClose(h), NOERROR);

    ASSERT_EQ(NSFRecoverDatabases(&backup_[0], nullptr, 0, nullptr, nullptr), NOERROR);
    EXPECT_EQ(Notes(backup_), "1\t2013-11-15T11:00:00Z\tadmin\tone, edited\n"
                              "2147483647\t2013-11-15T12:00:00Z\tadmin\tafter the padding\n");
    uint64_t allocated = 0;
    EXPECT_EQ(Size(backup_, &allocated), Size(dataDir_ + "/big.nsf"));
    EXPECT_LT(allocated, uint64_t(64) << 20);
}

TEST_F(LargeDatabaseTest, DamageFarIntoTheFileIsFoundOnOpen) {
    std::string path = dataDir_ + "/big.nsf";
    uint64_t size = Size(path);
    // The last note's checksum, beyond 5 GiB.
    {
        emu::Fd fd(open(path.c_str(), O_RDWR));
        ASSERT_TRUE(fd.valid());
        char byte;
        ASSERT_EQ(pread(fd.get(), &byte, 1, static_cast<off_t>(size - 2)), 1);
        byte ^= 0x40;
        ASSERT_EQ(pwrite(fd.get(), &byte, 1, static_cast<off_t>(size - 2)), 1);
    }
    DBHANDLE h = 0;
    EXPECT_EQ(NSFDbOpen("big.nsf", &h), EMU_ERR_DB_CORRUPT);
    // Cut by a byte: the file ends inside its last note.
    ASSERT_EQ(truncate(backup_.c_str(), static_cast<off_t>(Size(backup_) - 1)), 0);
    EXPECT_EQ(NSFRecoverDatabases(&backup_[0], nullptr, 0, nullptr, nullptr), EMU_ERR_DB_CORRUPT);
}

}  // namespace
