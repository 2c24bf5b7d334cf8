#include "logctrl/logctrl.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "common/captured_stdout.h"
#include "common/temp_dir.h"
#include "notesapi/notesapi.h"

namespace {

const std::string kSetting = "TRANSLOG_Recreate_Logctrl=1\n";

// Runs the rewrite on a notes.ini holding `before`; returns the file after it.
std::string RewriteIni(const std::string &before) {
    TempDir dir;
    std::string ini = dir / "notes.ini";
    WriteFile(ini, before);
    CapturedStdout captured;
    // A writable notes.ini is always rewritten, and says so in one line.
    EXPECT_EQ(1, setRecreateLogControl(ini.c_str()));
    EXPECT_EQ("Update " + ini + " with TRANSLOG_Recreate_Logctrl=1\n", captured.text());
    return ReadFile(ini);
}

}  // namespace

TEST(NotesIniRewrite, TheSettingReplacesTheKeysLinesOrIsAddedAndAllElseKeepsItsBytes) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string nearMisses =
        " TRANSLOG_Recreate_Logctrl=0\nTRANSLOG_Recreate_Logctrl =0\nXTRANSLOG_Recreate_Logctrl=1\n";
    // Over 1023 bytes, with the key where a fixed-size reader would start a
    // new piece: it is not a line of its own and must come out unchanged.
    const std::string longLine = "Comment=" + std::string(1015, 'x') + "TRANSLOG_Recreate_Logctrl=0\n";
    ASSERT_EQ(1023u, longLine.find("TRANSLOG"));
    const std::string nulAndHigh("A=\0\xff\x80\r\n", 7);
    const struct {
        std::string before, after;
    } cases[] = {
        // The key in any case is replaced; the other lines keep bytes and order.
        {"Directory=/data\r\ntranslog_recreate_logctrl=0\nTRANSLOG_Path=logdir\n",
         "Directory=/data\r\n" + kSetting + "TRANSLOG_Path=logdir\n"},
        {nearMisses, nearMisses + kSetting},
        // Every matching line is replaced, nothing added.
        {"TRANSLOG_RECREATE_LOGCTRL=0\nA=1\nTranslog_Recreate_Logctrl=\n", kSetting + "A=1\n" + kSetting},
        {"", kSetting},
        // The setting line as written stays as it is, blanks or a carriage
        // return after the value included; the key in another case is the
        // setting line afterwards.
        {"A=1\r\n" + kSetting + "B=2\r\n", "A=1\r\n" + kSetting + "B=2\r\n"},
        {"A=1\r\nTRANSLOG_Recreate_Logctrl=1  \nB=2\r\n", "A=1\r\nTRANSLOG_Recreate_Logctrl=1  \nB=2\r\n"},
        {"A=1\r\nTRANSLOG_Recreate_Logctrl=1 \t\r\nB=2\r\n",
         "A=1\r\nTRANSLOG_Recreate_Logctrl=1 \t\r\nB=2\r\n"},
        {"A=1\r\ntranslog_recreate_logctrl=1\r\nB=2\r\n", "A=1\r\n" + kSetting + "B=2\r\n"},
        // The last line without a line end: replaced, or given one before the setting.
        {"A=1\ntranslog_recreate_logctrl=0", "A=1\n" + kSetting},
        {"A=1\nServerKeyFileName=server.id", "A=1\nServerKeyFileName=server.id\n" + kSetting},
        // A byte order mark is not part of the first key and stays; nothing
        // but the mark gets no empty line before the setting; a mark anywhere
        // else is content, and its line no key line.
        {bom + "TRANSLOG_Recreate_Logctrl=0\r\nDirectory=/data\n", bom + kSetting + "Directory=/data\n"},
        {bom + "Directory=/data\n", bom + "Directory=/data\n" + kSetting},
        {bom, bom + kSetting},
        {"Directory=/data\n" + bom + "TRANSLOG_Recreate_Logctrl=0\n",
         "Directory=/data\n" + bom + "TRANSLOG_Recreate_Logctrl=0\n" + kSetting},
        // A long line is one line whatever it holds; one that begins with the
        // key is replaced whole.
        {longLine, longLine + kSetting},
        {"TRANSLOG_Recreate_Logctrl=0" + std::string(3000, ' ') + "\nB=1\n", kSetting + "B=1\n"},
        {nulAndHigh, nulAndHigh + kSetting},
    };
    for (const auto &c : cases) EXPECT_EQ(c.after, RewriteIni(c.before)) << c.before.substr(0, 80);
}

// A missing file is not created; a directory opens as a stream but cannot be
// read: never truncate on that.
TEST(NotesIniRewrite, WhatCannotBeOpenedAndReadIsFailToOpen) {
    TempDir dir;
    for (const std::string &ini : {dir / "notes.ini", dir.path()}) {
        CapturedStdout captured;
        EXPECT_EQ(0, setRecreateLogControl(ini.c_str()));
        EXPECT_EQ("Fail to open " + ini + "\n", captured.text());
    }
    EXPECT_TRUE(FolderNames(dir.path()).empty());
}

// Runs the rewrite in a child under the given limits; returns its output.
std::string RewriteInChild(const std::string &ini, bool unprivileged, rlim_t fileSizeLimit,
                           int *result) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        // A pipe, not a file: the file-size limit must hit the rewrite only.
        if (dup2(fds[1], 1) < 0) _exit(99);
        signal(SIGXFSZ, SIG_IGN);  // a write over the limit then fails with EFBIG
        if (fileSizeLimit != RLIM_INFINITY) {
            struct rlimit rl = {fileSizeLimit, fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(98);
        }
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(97);
        int rc = setRecreateLogControl(ini.c_str());
        fflush(stdout);
        _exit(rc);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// A file this user may not write (read-only in a folder it may not write
// either), and a write that runs out of room (the file may grow to 10 bytes
// only): "Fail to edit", and the file is as it was.
TEST(NotesIniRewrite, AFileThatCannotBeWrittenIsFailToEditAndLeftAsItWas) {
    for (const bool unprivileged : {true, false}) {
        TempDir dir;
        chmod(dir.path().c_str(), 0755);
        std::string ini = dir / "notes.ini";
        WriteFile(ini, "A=1\n");
        chmod(ini.c_str(), unprivileged && geteuid() != 0 ? 0444 : 0644);
        int result = -1;
        std::string out = RewriteInChild(ini, unprivileged, unprivileged ? RLIM_INFINITY : 10, &result);
        EXPECT_EQ(0, result) << unprivileged;
        EXPECT_EQ("Fail to edit " + ini + "\n", out);
        EXPECT_EQ("A=1\n", ReadFile(ini));
        EXPECT_EQ(std::set<std::string>{"notes.ini"}, FolderNames(dir.path()));
    }
}

TEST(NotesIniRewrite, ReplacedWholeKeepingModeAndOwner) {
    TempDir dir;
    std::string ini = dir / "notes.ini";
    WriteFile(ini, "A=1\n");
    chmod(ini.c_str(), 0640);
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(ini.c_str(), 4321, 4322));
    }
    struct stat before, after;
    ASSERT_EQ(0, stat(ini.c_str(), &before));
    {
        CapturedStdout quiet;
        EXPECT_EQ(1, setRecreateLogControl(ini.c_str()));
    }
    ASSERT_EQ(0, stat(ini.c_str(), &after));
    // A new file took the name: the old one was never truncated.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(0640u, after.st_mode & 07777);
    EXPECT_EQ(before.st_uid, after.st_uid);
    EXPECT_EQ(before.st_gid, after.st_gid);
    EXPECT_EQ("A=1\n" + kSetting, ReadFile(ini));
    EXPECT_EQ(std::set<std::string>{"notes.ini"}, FolderNames(dir.path()));
}

TEST(NotesIniRewrite, ALinkedNotesIniKeepsTheLinkAndItsFileIsReplaced) {
    TempDir dir;
    ASSERT_EQ(0, mkdir((dir / "etc").c_str(), 0755));
    WriteFile(dir / "etc/notes.ini", "A=1\n");
    ASSERT_EQ(0, symlink("etc/notes.ini", (dir / "notes.ini").c_str()));
    CapturedStdout captured;
    EXPECT_EQ(1, setRecreateLogControl((dir / "notes.ini").c_str()));
    EXPECT_EQ("Update " + (dir / "notes.ini") + " with TRANSLOG_Recreate_Logctrl=1\n",
              captured.text());
    struct stat st;
    ASSERT_EQ(0, lstat((dir / "notes.ini").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("A=1\n" + kSetting, ReadFile(dir / "etc/notes.ini"));
    EXPECT_EQ(std::set<std::string>{"notes.ini"}, FolderNames(dir / "etc"));
}

TEST(NotesIniRewrite, AFifoIsNotWaitedOnAndNotReplaced) {
    TempDir dir;
    std::string ini = dir / "notes.ini";
    ASSERT_EQ(0, mkfifo(ini.c_str(), 0600));
    CapturedStdout captured;
    EXPECT_EQ(0, setRecreateLogControl(ini.c_str()));
    EXPECT_EQ("Fail to open " + ini + "\n", captured.text());
    struct stat st;
    ASSERT_EQ(0, lstat(ini.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// The rewrite's own question foresees it: ok exactly when the rewrite
// succeeds, else the very line it prints.
TEST(NotesIniRewrite, ThePreCheckForeseesTheRewritesLine) {
    struct Case {
        const char *what;
        void (*make)(const std::string &ini);
    };
    const Case cases[] = {
        {"a file", [](const std::string &ini) { WriteFile(ini, "A=1\n"); }},
        {"none", [](const std::string &) {}},
        {"a folder", [](const std::string &ini) { mkdir(ini.c_str(), 0700); }},
        {"a FIFO", [](const std::string &ini) { mkfifo(ini.c_str(), 0600); }},
        {"a link to a file",
         [](const std::string &ini) {
             WriteFile(ini + ".real", "A=1\n");
             ASSERT_EQ(0, symlink((ini + ".real").c_str(), ini.c_str()));
         }},
        {"a dangling link",
         [](const std::string &ini) { ASSERT_EQ(0, symlink((ini + ".gone").c_str(), ini.c_str())); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string ini = dir / "notes.ini";
        c.make(ini);
        const nsfmend::Result foreseen = nsfmend::checkRecreateLogControl(ini.c_str());
        CapturedStdout captured;
        const int rc = setRecreateLogControl(ini.c_str());
        const std::string out = captured.text();
        EXPECT_EQ(rc == 1, foreseen.isOk());
        if (rc != 1) {
            EXPECT_EQ(foreseen.text() + "\n", out);
        }
    }
}
