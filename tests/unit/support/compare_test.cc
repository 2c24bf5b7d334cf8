// How one file's bytes stand to another's: the rule that tells an archived
// copy of an extent (whole, or captured while it was still being filled)
// from another file.
#include "support/compare.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "faultshim.h"
#include "common/temp_dir.h"
#include "support/raii.h"

using namespace nsfmend;  // the layer under test

namespace {

const char *Name(ContentRelation relation) {
    switch (relation) {
        case ContentRelation::kIdentical: return "identical";
        case ContentRelation::kPrefix: return "prefix";
        case ContentRelation::kDifferent: return "different";
    }
    return "?";
}

// The relation of first's bytes to second's, or the failure's errno.
std::string Relation(const std::string &first, const std::string &second) {
    UniqueFd a(open(first.c_str(), O_RDONLY | O_NONBLOCK));
    UniqueFd b(open(second.c_str(), O_RDONLY | O_NONBLOCK));
    if (!a.valid() || !b.valid()) return "cannot open";
    ContentRelation relation = ContentRelation::kIdentical;
    const int rc = compareContents(a.get(), b.get(), &relation);
    return rc != 0 ? "errno " + std::to_string(rc) : Name(relation);
}

}  // namespace

TEST(CompareContents, IdenticalPrefixOrDifferentAcrossPieceBoundaries) {
    TempDir dir;
    // Longer than one 64 KiB piece, so the answer must hold past the first.
    const std::string whole(200000, 'x');
    ASSERT_TRUE(WriteFile(dir / "whole", whole));
    ASSERT_TRUE(WriteFile(dir / "same", whole));
    ASSERT_TRUE(WriteFile(dir / "start", whole.substr(0, 65536)));
    ASSERT_TRUE(WriteFile(dir / "empty", ""));
    std::string late = whole;
    late[150000] = 'y';
    ASSERT_TRUE(WriteFile(dir / "late", late));
    ASSERT_TRUE(WriteFile(dir / "start-off", whole.substr(0, 65535) + "y"));

    EXPECT_EQ("identical", Relation(dir / "whole", dir / "same"));
    EXPECT_EQ("prefix", Relation(dir / "start", dir / "whole"));
    EXPECT_EQ("prefix", Relation(dir / "empty", dir / "whole"));
    EXPECT_EQ("identical", Relation(dir / "empty", dir / "empty"));
    EXPECT_EQ("different", Relation(dir / "late", dir / "whole"));
    EXPECT_EQ("different", Relation(dir / "start-off", dir / "whole"));
    // The longer file is never the start of the shorter one.
    EXPECT_EQ("different", Relation(dir / "whole", dir / "start"));
}

TEST(CompareContents, AnythingButARegularFileIsDifferentAndNeverRead) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "file", "abc"));
    ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
    ASSERT_TRUE(MakeDir(dir / "folder"));
    EXPECT_EQ("different", Relation(dir / "fifo", dir / "file"));
    EXPECT_EQ("different", Relation(dir / "file", dir / "folder"));
}

TEST(CompareContents, AReadErrorIsItsErrnoNotAnAnswer) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "a", "abc"));
    ASSERT_TRUE(WriteFile(dir / "b", "abcd"));
    for (long at : {1, 2}) {
        FaultArmed failing("read", at, "eio");
        EXPECT_EQ("errno " + std::to_string(EIO), Relation(dir / "a", dir / "b")) << at;
    }
}
