// A fresh emulated server per test: `notesemu init` in a temporary folder,
// the tool for changes, and the runtime started on its notes.ini.
#ifndef EMULATOR_SERVER_FIXTURE_H
#define EMULATOR_SERVER_FIXTURE_H

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "formats/codec.h"
#include "notesapi/notesapi.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/timedate.h"

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/emu-server-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        dataDir_ = root_ + "/data";
        ini_ = dataDir_ + "/notes.ini";
        unsetenv("NOTESEMU_FAIL");
    }

    void TearDown() override {
        NotesTerm();
        unsetenv("NOTESEMU_FAIL");
        Run("rm -rf " + Quote(root_));
    }

    static std::string Quote(const std::string &s) {
        std::string out = "'";
        for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }

    // Runs a shell command; returns its exit status and, if asked, stdout.
    static int Run(const std::string &cmd, std::string *out = nullptr) {
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

    void Init(const std::vector<std::string> &extra = {}) {
        std::string cmd = Quote(NOTESEMU_BIN) + " init " + Quote(dataDir_);
        for (const std::string &a : extra) cmd += " " + Quote(a);
        ASSERT_EQ(Run(cmd), 0);
    }

    STATUS Start() {
        std::string arg = "=" + ini_;
        char *argv[] = {const_cast<char *>(dataDir_.c_str()), &arg[0]};
        return NotesInitExtended(2, argv);
    }

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
        std::string all = Show(db), notes;
        size_t pos = 0;
        while (pos < all.size()) {
            size_t end = all.find('\n', pos);
            std::string line = all.substr(pos, end - pos);
            if (line.find(": ") == std::string::npos) notes += line + "\n";
            pos = end + 1;
        }
        return notes;
    }

    std::string Field(const std::string &db, const std::string &key) {
        std::string all = Show(db);
        size_t at = all.find("\n" + key + ": ");
        if (at == std::string::npos) return "";
        at += key.size() + 3;
        return all.substr(at, all.find('\n', at) - at);
    }

    std::string ReadFile(const std::string &path) {
        std::string bytes;
        emu::ReadWholeFile(path, &bytes, 1 << 26);
        return bytes;
    }

    static TIMEDATE At(const std::string &iso) {
        int64_t h = 0;
        EXPECT_TRUE(emu::ParseIsoUtc(iso, &h)) << iso;
        return emu::MakeTimeDate(h, 0, false);
    }

    std::string root_, dataDir_, ini_;
};

#endif
