// SHA-256 against the standard test vectors (FIPS 180-4's examples and the
// NIST vectors for one million 'a'), fed whole, byte by byte and across
// block boundaries, and over files through the streaming reader.
#include "support/sha256.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "common/temp_dir.h"
#include "faultshim.h"
#include "support/raii.h"

using namespace nsfmend;  // the layer under test

namespace {

const char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kMillionA[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

// FIPS 180-4's examples, one million 'a', and (against sha256sum) 55 bytes
// that pad into one block, 56 that need a second, and a whole block.
const struct {
    std::string text;
    const char *digest;
} kVectors[] = {
    {"", kEmpty},
    {"abc", kAbc},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
     "nopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), kMillionA},
    {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
};

// The digest of a file through sha256File, with its marks.
FileDigest DigestOf(const std::string &path, const std::vector<uint64_t> &marks = {}) {
    FileDigest digest;
    UniqueFd fd(open(path.c_str(), O_RDONLY));
    EXPECT_TRUE(fd.valid()) << path;
    EXPECT_EQ(0, sha256File(fd.get(), marks, &digest));
    return digest;
}

}  // namespace

// The processor's SHA extensions (where this machine has them) and the
// portable rounds give the same digests: the vectors above through both, and
// the same bytes of every length across the block boundaries.
TEST(Sha256, TheProcessorsWayAndThePortableOneAgree) {
    std::string bytes(3 * 64 + 17, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (char)(i * 131 + 7);
    std::vector<std::string> portable;
    for (bool onProcessor : {false, true}) {
        const bool used = sha256OnProcessor(onProcessor);
        if (onProcessor && !used) GTEST_SKIP() << "no SHA extensions on this processor";
        for (const auto &v : kVectors)
            EXPECT_EQ(v.digest, sha256Hex(v.text)) << v.text.size() << " bytes, processor " << onProcessor;
        for (size_t length = 0; length <= bytes.size(); ++length) {
            const std::string digest = sha256Hex(std::string_view(bytes).substr(0, length));
            if (!onProcessor)
                portable.push_back(digest);
            else
                EXPECT_EQ(portable[length], digest) << length << " bytes";
        }
    }
    sha256OnProcessor(true);
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
    const std::string million(1000000, 'a');
    for (size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 1000u, 4099u}) {
        Sha256 digest;
        for (size_t at = 0; at < million.size(); at += piece)
            digest.update(million.data() + at, std::min(piece, million.size() - at));
        EXPECT_EQ(kMillionA, digest.hexDigest()) << "pieces of " << piece;
        EXPECT_EQ(1000000u, digest.length());
    }
}

TEST(Sha256, ADigestTakenMidwayLeavesTheHashGoingOn) {
    Sha256 digest;
    digest.update("a");
    EXPECT_EQ(sha256Hex("a"), digest.hexDigest());
    digest.update("bc");
    EXPECT_EQ(kAbc, digest.hexDigest());
}

TEST(Sha256, HexDigestForm) {
    EXPECT_TRUE(isHexDigest(kAbc));
    EXPECT_FALSE(isHexDigest(std::string(kAbc).substr(1)));
    std::string upper = kAbc;
    upper[0] = 'B';
    EXPECT_FALSE(isHexDigest(upper));
    EXPECT_FALSE(isHexDigest(std::string(64, 'g')));
}

// Past the 1 MiB piece, so the marks fall inside and at piece edges; and an
// empty file. A mark past the end has no digest: the file has no such start.
TEST(Sha256File, AFileLargerThanTheReadPieceOrEmptyWithMarksOnTheWay) {
    TempDir dir;
    std::string big;
    for (int i = 0; big.size() < (3u << 20) + 17; ++i) big += std::to_string(i) + "\n";
    for (const std::string &content : {big, std::string()}) {
        ASSERT_TRUE(WriteFile(dir / "f", content));
        const std::vector<uint64_t> marks = {0, 3, 1u << 20, (1u << 20) + 1, content.size(),
                                             content.size() + 1};
        const FileDigest digest = DigestOf(dir / "f", marks);
        EXPECT_EQ(content.size(), digest.size);
        EXPECT_EQ(sha256Hex(content), digest.whole);
        ASSERT_EQ(marks.size(), digest.atMarks.size());
        for (size_t i = 0; i < marks.size(); ++i)
            EXPECT_EQ(marks[i] <= content.size() ? sha256Hex(content.substr(0, marks[i])) : "",
                      digest.atMarks[i])
                << content.size() << " bytes, mark " << marks[i];
    }
}

TEST(Sha256File, AFailedReadIsReported) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "f", "some bytes"));
    UniqueFd fd(open((dir / "f").c_str(), O_RDONLY));
    ASSERT_TRUE(fd.valid());
    FileDigest digest;
    {
        FaultArmed fault("read", 1, "eio");
        EXPECT_EQ(EIO, sha256File(fd.get(), {}, &digest));
    }
}
