// A fresh emulated server per test: a private folder, `notesemu init` of a
// data directory in it, notes.ini edited as the test needs, the runtime
// started in this process as the program starts it, and notesemu at hand
// for changes and looks. The runtime is stopped and the folder removed when
// the test ends, whatever it did.
#ifndef NSFMEND_TESTS_COMMON_EMULATED_SERVER_H
#define NSFMEND_TESTS_COMMON_EMULATED_SERVER_H

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "notesapi/notesapi.h"

class EmulatedServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root_.empty());
        unsetenv("NOTESEMU_FAIL");
    }
    void TearDown() override {
        // Stopping a runtime that is not running is harmless.
        NotesTerm();
        unsetenv("NOTESEMU_FAIL");
    }

    // `notesemu init` of the data directory; extra are init's options.
    void Init(const std::vector<std::string> &extra = {}) {
        std::string cmd = Quote(NOTESEMU_BIN) + " init " + Quote(dataDir_);
        for (const std::string &a : extra) cmd += " " + Quote(a);
        ASSERT_EQ(Run(cmd), 0);
    }

    // Rewrites notes.ini: every "NAME=value" in `replace` takes the place of
    // the lines that set NAME, at the end of the file; "NAME" alone only
    // removes them.
    void EditIni(const std::vector<std::string> &replace) {
        std::istringstream before(ReadFile(ini_));
        std::string line, text;
        while (std::getline(before, line)) {
            bool replaced = false;
            for (const std::string &r : replace) {
                const std::string key = r.substr(0, r.find('='));
                if (line.compare(0, key.size() + 1, key + "=") == 0) replaced = true;
            }
            if (!replaced) text += line + "\n";
        }
        for (const std::string &r : replace)
            if (r.find('=') != std::string::npos) text += r + "\n";
        ASSERT_TRUE(WriteFile(ini_, text));
    }

    // The runtime started with programDir and "=" + ini, the arguments the
    // program passes.
    static STATUS Start(const std::string &ini, const std::string &programDir = "") {
        std::string iniArg = "=" + ini;
        std::vector<char *> argv = {const_cast<char *>(programDir.c_str()), &iniArg[0]};
        return NotesInitExtended(2, argv.data());
    }
    // The runtime started on this server.
    STATUS Start() { return Start(ini_, dataDir_); }

    // Init, EditIni with `replace`, Start: a server ready for the test.
    void StartServer(const std::vector<std::string> &replace = {}) {
        ASSERT_NO_FATAL_FAILURE(Init());
        if (!replace.empty()) {
            ASSERT_NO_FATAL_FAILURE(EditIni(replace));
        }
        ASSERT_EQ(NOERROR, Start());
    }

    static std::string Quote(const std::string &s) {
        std::string out = "'";
        for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }

    // Runs a shell command; returns its exit status and, if asked, stdout.
    static int Run(const std::string &cmd, std::string *out = nullptr) {
        fflush(stdout);
        FILE *p = popen((cmd + (out ? "" : " >/dev/null")).c_str(), "r");
        if (p == nullptr) return -1;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            if (out) out->append(buf, n);
        int rc = pclose(p);
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    // notesemu with this server's notes.ini.
    int Emu(const std::vector<std::string> &args, std::string *out = nullptr) {
        std::string cmd = Quote(NOTESEMU_BIN) + " --ini " + Quote(ini_);
        for (const std::string &a : args) cmd += " " + Quote(a);
        return Run(cmd + " 2>/dev/null", out);
    }

    // Note `id` of database db set to text, logged at the ISO time `at`.
    void Put(const std::string &db, int id, const std::string &text, const std::string &at,
             const std::string &user = "admin") {
        ASSERT_EQ(Emu({"put", db, std::to_string(id), text, "--at", at, "--user", user}), 0);
    }

    std::string Show(const std::string &db) {
        std::string out;
        EXPECT_EQ(Emu({"show", db}, &out), 0);
        return out;
    }

    // The note lines of `show`, without the header.
    std::string Notes(const std::string &db) {
        std::istringstream all(Show(db));
        std::string line, notes;
        while (std::getline(all, line))
            if (line.find(": ") == std::string::npos) notes += line + "\n";
        return notes;
    }

    // One header field of `show`.
    std::string Field(const std::string &db, const std::string &key) {
        std::string all = Show(db);
        size_t at = all.find("\n" + key + ": ");
        if (at == std::string::npos) return "";
        at += key.size() + 3;
        return all.substr(at, all.find('\n', at) - at);
    }

    TempDir dir_;
    const std::string root_ = dir_.path();
    const std::string dataDir_ = root_ + "/notesdata";
    const std::string ini_ = dataDir_ + "/notes.ini";
};

#endif
