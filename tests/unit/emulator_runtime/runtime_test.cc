// The runtime's start and stop, notes.ini, the data directory and settings.
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "common/emulated_server.h"
#include "notesapi/notesapi.h"
#include "runtime/ini.h"
#include "runtime/messages.h"
#include "runtime/runtime.h"

namespace {

// Start(ini) starts the runtime the way the program does, on notes.ini files
// the tests write themselves.
class Runtime : public EmulatedServer {
protected:
    std::string DataDirectory() {
        char buf[1024];
        memset(buf, 'x', sizeof buf);
        WORD n = OSGetDataDirectory(buf);
        EXPECT_EQ(n, strlen(buf));
        return buf;
    }
    // The value of a setting; one not found is "unset:" and what the buffer
    // holds then.
    std::string Env(const char *name) {
        char buf[1024];
        memset(buf, 'x', sizeof buf - 1);
        buf[sizeof buf - 1] = '\0';
        const bool found = OSGetEnvironmentString(name, buf, 1023) != FALSE;
        return (found ? "" : "unset:") + std::string(buf);
    }
};

TEST_F(Runtime, SettingsAreMatchedWithoutRegardToCaseAndTheFirstLineWins) {
    ASSERT_TRUE(WriteFile(dir_ / "notes.ini",
                          "\xEF\xBB\xBF[Notes]\r\n"
                          "TRANSLOG_Path=logdir\r\n"
                          "\n"
                          "no equals sign here\n"
                          "translog_path=second\n"
                          " Spaced=1\n"
                          "=orphan value\n"
                          "Empty=\n"
                          "Last=tail"));
    ASSERT_EQ(Start(dir_ / "notes.ini"), NOERROR);
    EXPECT_TRUE(emu::Started());
    EXPECT_EQ(Env("TRANSLOG_PATH"), "logdir");
    EXPECT_EQ(Env("Translog_Path"), "logdir");
    EXPECT_EQ(Env("Empty"), "");
    EXPECT_EQ(Env("Last"), "tail");  // no line end after the last line
    // Names are taken as written: a blank in front is part of the name.
    EXPECT_EQ(Env("Spaced"), "unset:");
    EXPECT_EQ(Env("no equals sign here"), "unset:");
    EXPECT_EQ(Env("Missing"), "unset:");
    EXPECT_EQ(emu::Setting("translog_path"), "logdir");
}

// An editor's byte-order mark is not part of the first name: that line is
// read, and as the first one it wins over a later line for the same name.
TEST_F(Runtime, AByteOrderMarkBeforeTheFirstNameIsNotPartOfIt) {
    ASSERT_TRUE(WriteFile(dir_ / "notes.ini",
                          "\xEF\xBB\xBFTRANSLOG_Recreate_Logctrl=1\r\n"
                          "TRANSLOG_Recreate_Logctrl=0\r\n"
                          "\xEF\xBB\xBFSecond=only at the start\n"));
    ASSERT_EQ(Start(dir_ / "notes.ini"), NOERROR);
    EXPECT_EQ(Env("TRANSLOG_Recreate_Logctrl"), "1");
    // Further down a mark is bytes of the name like any other.
    EXPECT_EQ(Env("Second"), "unset:");
}

TEST_F(Runtime, EnvironmentStringStaysWithinTheGivenLength) {
    ASSERT_TRUE(WriteFile(dir_ / "notes.ini", "Name=abcdef\n"));
    ASSERT_EQ(Start(dir_ / "notes.ini"), NOERROR);
    char buf[8];
    memset(buf, '#', sizeof buf);
    EXPECT_TRUE(OSGetEnvironmentString("name", buf, 3));
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], '#');
    EXPECT_TRUE(OSGetEnvironmentString("name", buf, 0));
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(OSGetEnvironmentString(nullptr, buf, 3));
    EXPECT_FALSE(OSGetEnvironmentString("name", nullptr, 3));
}

TEST_F(Runtime, DataDirectoryComesFromDirectoryOrTheIniFolder) {
    const struct {
        const char *ini;
        std::string dataDir;
    } cases[] = {
        {"TRANSLOG_Status=1\n", dir_.path()},  // none: the folder of notes.ini
        {"DIRECTORY=data/./sub/\n", dir_ / "data/sub"},
        {"Directory=//srv//notesdata/\n", "/srv/notesdata"},
        {"Directory=/\n", "/"},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(WriteFile(dir_ / "notes.ini", c.ini));
        ASSERT_EQ(Start(dir_ / "notes.ini"), NOERROR) << c.ini;
        EXPECT_EQ(DataDirectory(), c.dataDir) << c.ini;
        EXPECT_EQ(emu::DataDir(), c.dataDir) << c.ini;
        EXPECT_EQ(emu::IniPath(), dir_ / "notes.ini");
        NotesTerm();
    }
}

TEST_F(Runtime, RelativeIniPathsAreResolvedFromTheWorkingDirectory) {
    ASSERT_TRUE(WriteFile(dir_ / "notes.ini", "A=1\n"));
    char old[PATH_MAX];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    char here[PATH_MAX];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    STATUS relative = Start("notes.ini");
    std::string relativeDir = DataDirectory();
    NotesTerm();
    // Count 1: notes.ini in the program directory, or here when it is empty.
    char empty[] = "";
    char *argvEmpty[] = {empty};
    STATUS fromCwd = NotesInitExtended(1, argvEmpty);
    std::string cwdDir = DataDirectory();
    NotesTerm();
    ASSERT_EQ(chdir(old), 0);
    EXPECT_EQ(relative, NOERROR);
    EXPECT_EQ(relativeDir, here);
    EXPECT_EQ(fromCwd, NOERROR);
    EXPECT_EQ(cwdDir, here);

    std::string programDir = dir_.path();
    char *argvDir[] = {&programDir[0]};
    EXPECT_EQ(NotesInitExtended(1, argvDir), NOERROR);
    EXPECT_EQ(DataDirectory(), dir_.path());
}

TEST_F(Runtime, AnUnreadableIniFailsTheStart) {
    EXPECT_EQ(Start(dir_ / "absent.ini"), EMU_ERR_INI_MISSING);
    EXPECT_FALSE(emu::Started());
    ASSERT_EQ(mkdir((dir_ / "folder.ini").c_str(), 0755), 0);
    EXPECT_EQ(Start(dir_ / "folder.ini"), EMU_ERR_INI_MISSING);
    ASSERT_EQ(symlink((dir_ / "gone.ini").c_str(), (dir_ / "dangling.ini").c_str()), 0);
    EXPECT_EQ(Start(dir_ / "dangling.ini"), EMU_ERR_INI_MISSING);
    EXPECT_EQ(Start(""), EMU_ERR_INI_MISSING);
    EXPECT_FALSE(emu::Started());
    char buf[1024] = "stale";
    EXPECT_EQ(OSGetDataDirectory(buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(Runtime, OddArgumentVectorsAreAStatusNotACrash) {
    ASSERT_TRUE(WriteFile(dir_ / "notes.ini", "A=1\n"));
    char program[] = "";
    char noEquals[] = "/etc/notes.ini";
    std::string eq = "=" + (dir_ / "notes.ini");
    char *nullFirst[] = {nullptr, &eq[0]};
    char *nullSecond[] = {program, nullptr};
    char *bare[] = {program, noEquals};
    char *three[] = {program, &eq[0], &eq[0]};
    EXPECT_EQ(NotesInitExtended(0, nullptr), EMU_ERR_BAD_ARGUMENT);
    EXPECT_EQ(NotesInitExtended(1, nullptr), EMU_ERR_BAD_ARGUMENT);
    EXPECT_EQ(NotesInitExtended(-1, bare), EMU_ERR_BAD_ARGUMENT);
    EXPECT_EQ(NotesInitExtended(2, nullFirst), EMU_ERR_BAD_ARGUMENT);
    EXPECT_EQ(NotesInitExtended(2, nullSecond), EMU_ERR_BAD_ARGUMENT);
    EXPECT_EQ(NotesInitExtended(2, bare), EMU_ERR_BAD_ARGUMENT);
    EXPECT_EQ(NotesInitExtended(3, three), EMU_ERR_BAD_ARGUMENT);
    EXPECT_FALSE(emu::Started());
}

TEST_F(Runtime, StartsOnceAndStartsAgainAfterTerm) {
    ASSERT_TRUE(WriteFile(dir_ / "one.ini", "Name=first\n"));
    ASSERT_TRUE(WriteFile(dir_ / "two.ini", "Name=second\n"));
    ASSERT_EQ(Start(dir_ / "one.ini"), NOERROR);
    EXPECT_EQ(Start(dir_ / "two.ini"), EMU_ERR_ALREADY_STARTED);
    EXPECT_EQ(emu::LoadIni(dir_ / "two.ini"), EMU_ERR_ALREADY_STARTED);
    EXPECT_EQ(Env("Name"), "first");
    NotesTerm();
    EXPECT_FALSE(emu::Started());
    EXPECT_EQ(Env("Name"), "unset:");
    EXPECT_EQ(DataDirectory(), "");
    NotesTerm();  // a second stop is harmless
    ASSERT_EQ(Start(dir_ / "two.ini"), NOERROR);
    EXPECT_EQ(Env("Name"), "second");
}

TEST_F(Runtime, LoadIniReadsSettingsWithoutStarting) {
    ASSERT_TRUE(WriteFile(dir_ / "notes.ini", "Directory=data\nTRANSLOG_Style=1\n"));
    ASSERT_EQ(emu::LoadIni(dir_ / "notes.ini"), NOERROR);
    EXPECT_FALSE(emu::Started());
    EXPECT_EQ(emu::DataDir(), dir_ / "data");
    EXPECT_EQ(emu::Setting("translog_style"), "1");
    // The exported calls still see no runtime.
    EXPECT_EQ(Env("TRANSLOG_Style"), "unset:");
    EXPECT_EQ(emu::LoadIni(dir_ / "absent.ini"), EMU_ERR_INI_MISSING);
    EXPECT_EQ(emu::DataDir(), "");
}

TEST_F(Runtime, ADataDirectoryTooLongForTheCallersBufferIsRefused) {
    std::string longDir = "/" + std::string(1022, 'd');  // 1023 bytes: fits
    ASSERT_TRUE(WriteFile(dir_ / "fits.ini", "Directory=" + longDir + "\n"));
    ASSERT_EQ(Start(dir_ / "fits.ini"), NOERROR);
    EXPECT_EQ(DataDirectory(), longDir);
    NotesTerm();
    ASSERT_TRUE(WriteFile(dir_ / "long.ini", "Directory=" + longDir + "x\n"));
    EXPECT_EQ(Start(dir_ / "long.ini"), EMU_ERR_BAD_ARGUMENT);
    EXPECT_FALSE(emu::Started());
}

TEST(IniText, ParsesLinesInFileOrder) {
    std::vector<std::pair<std::string, std::string>> kv;
    emu::ParseIniText("a=1\r\nb==2\n\r\n\nc\nd=x=y\r", &kv);
    ASSERT_EQ(kv.size(), 3u);
    EXPECT_EQ(kv[0], (std::pair<std::string, std::string>("a", "1")));
    EXPECT_EQ(kv[1], (std::pair<std::string, std::string>("b", "=2")));
    EXPECT_EQ(kv[2], (std::pair<std::string, std::string>("d", "x=y")));
}

}  // namespace
