// The storage interface over a folder: where a location's names go, what a
// listing gives, what a read refuses, and put's rules that never replace
// anything but the start of the same bytes.
#include "storage/folder_storage.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "support/sha256.h"

using namespace nsfmend;  // the module under test

namespace {

class Collected : public ByteSink {
public:
    int write(const void *data, size_t size) override {
        text.append(static_cast<const char *>(data), size);
        return 0;
    }
    int restart() override {
        text.clear();
        return 0;
    }
    std::string text;
};

TEST(StorageLocation, NamesGoWhereTheLocationSays) {
    const struct {
        const char *location;
        const char *stem;
        const char *path;  // of stem + "S1"
    } cases[] = {
        {"/backup/", "", "/backup/S1"},
        {"/tmp/flat", "flat", "/tmp/flatS1"},
        {"flat", "flat", "flatS1"},
        {"/", "", "/S1"},
    };
    for (const auto &c : cases) {
        std::unique_ptr<Storage> storage;
        std::string stem;
        ASSERT_TRUE(openDestination(c.location, &storage, &stem).isOk()) << c.location;
        EXPECT_EQ(c.stem, stem) << c.location;
        EXPECT_EQ(c.path, storage->pathOf(stem + "S1")) << c.location;
    }
    std::unique_ptr<Storage> storage;
    ASSERT_TRUE(openStorage("/backup/logs", &storage).isOk());
    EXPECT_EQ("/backup/logs/S1", storage->pathOf("S1"));
    EXPECT_TRUE(isStoreLocation("s3://bucket/logs/"));
    EXPECT_FALSE(isStoreLocation("/s3://bucket"));
    // A store's location that does not parse is refused before anything.
    EXPECT_EQ(EINVAL, openStorage("s3://B/logs/", &storage).error());
}

class Folder : public ::testing::Test {
protected:
    void SetUp() override { storage_ = std::make_unique<FolderStorage>(dir_.path() + "/", dir_.path()); }
    TempDir dir_;
    std::unique_ptr<Storage> storage_;
};

// A listing has every entry in byte order with its kind and size; a read
// takes regular files only, and never blocks on a FIFO.
TEST_F(Folder, ListsEveryEntryAndReadsRegularFilesOnly) {
    const std::string bytes("a\0b\0c", 5);
    ASSERT_TRUE(WriteFile(dir_ / "b", bytes));
    ASSERT_TRUE(WriteFile(dir_ / "B", ""));
    ASSERT_TRUE(WriteFile(dir_ / ".hidden", "x"));
    ASSERT_TRUE(MakeDir(dir_ / "a"));
    ASSERT_EQ(0, mkfifo((dir_ / "c").c_str(), 0600));
    std::vector<StoredEntry> entries;
    ASSERT_TRUE(storage_->list(&entries).isOk());
    std::string seen;
    for (const StoredEntry &e : entries)
        seen += e.name + ":" + (e.kind == StoredKind::kRegular ? "file" : e.folder ? "folder" : "other") +
                ":" + std::to_string(e.size) + " ";
    EXPECT_EQ(".hidden:file:1 B:file:0 a:folder:0 b:file:5 c:other:0 ", seen);
    FolderStorage missing(dir_ / "none/", dir_ / "none");
    EXPECT_EQ(ENOENT, missing.list(&entries).error());

    Collected sink;
    ASSERT_TRUE(storage_->read("b", &sink).isOk());
    EXPECT_EQ(bytes, sink.text);
    EXPECT_EQ(EISDIR, storage_->read("a", &sink).error());
    EXPECT_EQ(EINVAL, storage_->read("c", &sink).error());
    EXPECT_EQ(ENOENT, storage_->read("none", &sink).error());
    EXPECT_TRUE(storage_->probe("b").isOk());
    EXPECT_EQ(EINVAL, storage_->probe("a").error());
    EXPECT_EQ(EINVAL, storage_->probe("c").error());
}

TEST_F(Folder, PutCopiesKeepsTheSameCompletesAStartAndRefusesTheRest) {
    ASSERT_TRUE(WriteFile(dir_ / "src", "records 1 2 3"));
    const std::string source = dir_ / "src";
    StoredDigest stored;
    ASSERT_TRUE(storage_->put(source.c_str(), "new", &stored).isOk());
    EXPECT_EQ("records 1 2 3", ReadFile(dir_ / "new"));
    EXPECT_EQ(13u, stored.size);
    EXPECT_EQ(sha256Hex("records 1 2 3"), stored.sha256);

    struct stat before, after;
    ASSERT_EQ(0, stat((dir_ / "new").c_str(), &before));
    ASSERT_TRUE(storage_->put(source.c_str(), "new", &stored).isOk());  // the same: kept
    ASSERT_EQ(0, stat((dir_ / "new").c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(sha256Hex("records 1 2 3"), stored.sha256);

    ASSERT_TRUE(WriteFile(dir_ / "start", "records 1"));
    ASSERT_TRUE(storage_->put(source.c_str(), "start", &stored).isOk());
    EXPECT_EQ("records 1 2 3", ReadFile(dir_ / "start"));

    ASSERT_TRUE(WriteFile(dir_ / "other", "records 9"));
    EXPECT_EQ(EEXIST, storage_->put(source.c_str(), "other", &stored).error());
    EXPECT_EQ("records 9", ReadFile(dir_ / "other"));
    ASSERT_TRUE(WriteFile(dir_ / "longer", "records 1 2 3 4"));
    EXPECT_EQ(EEXIST, storage_->put(source.c_str(), "longer", &stored).error());

    StoredDigest asked;
    ASSERT_TRUE(storage_->digest("longer", &asked).isOk());
    EXPECT_EQ(sha256Hex("records 1 2 3 4"), asked.sha256);
}

TEST_F(Folder, WriteTextIsReadableByAllAndNeverTakesANameUnasked) {
    ASSERT_TRUE(storage_->writeText("record", "one\n", Placing::kNoReplace).isOk());
    struct stat st;
    ASSERT_EQ(0, stat((dir_ / "record").c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 0777);
    EXPECT_EQ(EEXIST, storage_->writeText("record", "two\n", Placing::kNoReplace).error());
    EXPECT_EQ("one\n", ReadFile(dir_ / "record"));
    ASSERT_TRUE(storage_->writeText("record", "two\n", Placing::kReplace).isOk());
    EXPECT_EQ("two\n", ReadFile(dir_ / "record"));
}

TEST_F(Folder, PrepareMakesTheLocationAndLeftoversGo) {
    FolderStorage nested(dir_ / "new/", dir_ / "new");
    ASSERT_TRUE(nested.prepare().isOk());
    EXPECT_TRUE(Exists(dir_ / "new"));
    FolderStorage deeper(dir_ / "a/b/", dir_ / "a/b");
    EXPECT_EQ(ENOENT, deeper.prepare().error());  // one level, as the archiving makes it
    ASSERT_TRUE(WriteFile(dir_ / ".S1.nsfmend-0badc0de", "partial"));
    storage_->removeLeftovers();
    EXPECT_FALSE(Exists(dir_ / ".S1.nsfmend-0badc0de"));
}

}  // namespace
