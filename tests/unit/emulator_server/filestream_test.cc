// The byte streams under the database files: a CRC that runs over holes
// without reading them, 64-bit offsets in either build, and sparse copies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/temp_dir.h"
#include "formats/codec.h"
#include "formats/filestream.h"
#include "runtime/files.h"

namespace {

TEST(Crc32Stream, PiecesAndZeroRunsGiveTheChecksumOfTheWhole) {
    EXPECT_EQ(emu::Crc32("123456789", 9), 0xCBF43926u);  // the check value of CRC-32
    std::string text = "The quick brown fox jumps over the lazy dog, then naps.";
    for (size_t zeros : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(4096),
                         (size_t(1) << 20) + 5}) {
        std::string whole = text + std::string(zeros, '\0') + text;
        emu::Crc32Stream crc;
        crc.Update(text.data(), 3);
        crc.Update(text.data() + 3, text.size() - 3);
        crc.Zeros(zeros);
        crc.Update(text.data(), text.size());
        EXPECT_EQ(crc.Value(), emu::Crc32(whole.data(), whole.size())) << zeros << " zeros";
    }
}

class FileStreamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
    // "head", a hole up to just below `size`, then "tail".
    std::string Sparse(uint64_t size) {
        std::string path = dir_ / "sparse";
        emu::Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        EXPECT_TRUE(fd.valid());
        EXPECT_EQ(pwrite(fd.get(), "head", 4, 0), 4);
        EXPECT_EQ(pwrite(fd.get(), "tail", 4, static_cast<off_t>(size - 4)), 4);
        return path;
    }
    TempDir dir_;
};

TEST_F(FileStreamTest, OffsetsBeyondFourGibibytesReadInEitherBuild) {
    const uint64_t size = (uint64_t(5) << 30) + 3;
    emu::FileSource src;
    ASSERT_EQ(src.Open(Sparse(size)), 0);
    ASSERT_EQ(src.Size(), size);
    char buf[8] = {};
    ASSERT_EQ(src.ReadAt(size - 4, buf, 4), 0);
    EXPECT_EQ(std::string(buf, 4), "tail");
    EXPECT_EQ(src.ReadAt(size - 2, buf, 4), ENODATA);  // past the end: never a short read
    // The whole file streams in no time: the hole is skipped, not read.
    emu::Crc32Stream crc, expect;
    ASSERT_EQ(emu::StreamRange(&src, 0, size, &crc, nullptr), 0);
    expect.Update("head", 4);
    expect.Zeros(size - 8);
    expect.Update("tail", 4);
    EXPECT_EQ(crc.Value(), expect.Value());
}

TEST_F(FileStreamTest, ACopyKeepsEveryByteAndTheHoles) {
    const uint64_t size = uint64_t(64) << 20;
    emu::FileSource src;
    ASSERT_EQ(src.Open(Sparse(size)), 0);
    std::string copy = dir_ / "copy";
    emu::Fd out(open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(out.valid());
    emu::FileSink sink(out.get());
    emu::Crc32Stream crc;
    ASSERT_EQ(emu::StreamRange(&src, 0, size - 4, &crc, &sink), 0);
    ASSERT_EQ(sink.Zeros(4), 0);
    ASSERT_EQ(sink.Flush(), 0);
    struct stat st;
    ASSERT_EQ(fstat(out.get(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), size);  // a trailing hole counts too
    ASSERT_EQ(sink.WriteAt(size - 4, "TAIL", 4), 0);
    ASSERT_EQ(fstat(out.get(), &st), 0);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, uint64_t(1) << 20);  // still sparse
    emu::FileSource back;
    ASSERT_EQ(back.Open(copy), 0);
    char buf[4];
    ASSERT_EQ(back.ReadAt(0, buf, 4), 0);
    EXPECT_EQ(std::string(buf, 4), "head");
    ASSERT_EQ(back.ReadAt(size - 4, buf, 4), 0);
    EXPECT_EQ(std::string(buf, 4), "TAIL");
    ASSERT_EQ(back.ReadAt(size / 2, buf, 4), 0);
    EXPECT_EQ(std::string(buf, 4), std::string(4, '\0'));
}

}  // namespace
