// Paths: one join, one split, and the two ways a relative name is resolved,
// which decide which file a restore or a recovery acts on.
#include "support/path.h"

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace {

using nsfmend::baseName;
using nsfmend::joinPath;
using nsfmend::parentOf;
using nsfmend::splitPath;

TEST(PathJoin, OneSlashBetweenAndAFinalOneForAnEmptyName) {
    EXPECT_EQ("/local/notesdata/mail.nsf", joinPath("/local/notesdata", "mail.nsf"));
    EXPECT_EQ("/local/notesdata/mail.nsf", joinPath("/local/notesdata/", "mail.nsf"));
    EXPECT_EQ("mail.nsf", joinPath("", "mail.nsf"));
    EXPECT_EQ("/backup/", joinPath("/backup", ""));
    EXPECT_EQ("/backup/", joinPath("/backup/", ""));
    EXPECT_EQ("/mail.nsf", joinPath("/", "mail.nsf"));
}

TEST(PathSplit, FolderAndNameAsTheDurableWriterOpensThem) {
    struct Case {
        const char *path, *folder, *name;
    } cases[] = {
        {"/local/notesdata/mail.nsf", "/local/notesdata", "mail.nsf"},
        {"mail.nsf", ".", "mail.nsf"},
        {"/mail.nsf", "/", "mail.nsf"},
        {"mail/ann.nsf", "mail", "ann.nsf"},
        {"/backup/", "/backup", ""},
    };
    for (const Case &c : cases) {
        std::string folder, name;
        splitPath(c.path, &folder, &name);
        EXPECT_EQ(c.folder, folder) << c.path;
        EXPECT_EQ(c.name, name) << c.path;
        EXPECT_EQ(c.folder, parentOf(c.path)) << c.path;
        EXPECT_EQ(c.name, baseName(c.path)) << c.path;
        // The two parts join back to the same file.
        if (c.name[0] != '\0' && std::string(c.folder) != ".") {
            EXPECT_EQ(c.path, joinPath(folder, name));
        }
    }
}

TEST(PathResolve, ADatabaseIsNamedFromTheDataDirectoryABackupFromTheWorkingOne) {
    TempDir dir;
    const std::string work = dir.path();
    char saved[4096];
    ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
    ASSERT_EQ(0, chdir(work.c_str()));
    const std::string live = nsfmend::resolveServerPath("/local/notesdata", "mail/ann.nsf");
    const std::string backup = nsfmend::resolveBackupPath("backup/ann.nsf");
    const std::string absolute = nsfmend::resolveServerPath("/local/notesdata", "/srv/x.nsf");
    const std::string absoluteBackup = nsfmend::resolveBackupPath("/srv/b.nsf");
    ASSERT_EQ(0, chdir(saved));

    EXPECT_EQ("/local/notesdata/mail/ann.nsf", live);
    EXPECT_EQ(work + "/backup/ann.nsf", backup);
    EXPECT_EQ("/srv/x.nsf", absolute);
    EXPECT_EQ("/srv/b.nsf", absoluteBackup);
    EXPECT_EQ("/local/notesdata/x.nsf", nsfmend::resolveServerPath("/local/notesdata/", "x.nsf"));
}

TEST(PathLimits, ThePathBufferHoldsAtMost1023CharactersAndTheRefusalSaysSo) {
    EXPECT_TRUE(nsfmend::fitsBuffer(std::string(1023, 'p')));
    EXPECT_FALSE(nsfmend::fitsBuffer(std::string(1024, 'p')));
    EXPECT_TRUE(nsfmend::fitsBuffer(std::string(1022, 'p'), 1023));
    EXPECT_FALSE(nsfmend::fitsBuffer(std::string(1023, 'p'), 1023));
    EXPECT_EQ("Path too long (over 1023 characters): /x",
              nsfmend::tooLongText("Path", nsfmend::kPathSize - 1, "/x"));
}

}  // namespace
