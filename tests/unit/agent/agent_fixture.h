// A scratch folder per test and, for the tests that need the platform, an
// emulated server started in this process.
#ifndef NSFMEND_TESTS_AGENT_FIXTURE_H
#define NSFMEND_TESTS_AGENT_FIXTURE_H

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "notesapi/notesapi.h"

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/nsfmend-agent.XXXXXX";
        const char *made = mkdtemp(pattern);
        ASSERT_NE(nullptr, made);
        root_ = made;
    }
    void TearDown() override {
        if (started_) NotesTerm();
        if (root_.empty()) return;
        std::string command = "rm -rf '" + root_ + "'";
        if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", root_.c_str());
    }

    std::string path(const std::string &name) const { return root_ + "/" + name; }

    // notesemu init, then extra notes.ini lines, then the runtime started
    // on it. Lines given in `replace` take the place of the ones init wrote
    // for the same setting ("TRANSLOG_Path" alone removes it).
    void startServer(const std::vector<std::string> &replace = {}) {
        data_ = path("notesdata");
        std::string command = std::string(NOTESEMU_BIN) + " init '" + data_ + "' >/dev/null";
        ASSERT_EQ(0, system(command.c_str()));
        std::string ini = data_ + "/notes.ini";
        std::ifstream in(ini);
        std::string line, text;
        while (std::getline(in, line)) {
            bool replaced = false;
            for (const std::string &r : replace) {
                std::string key = r.substr(0, r.find('='));
                if (line.compare(0, key.size() + 1, key + "=") == 0) replaced = true;
            }
            if (!replaced) text += line + "\n";
        }
        for (const std::string &r : replace)
            if (r.find('=') != std::string::npos) text += r + "\n";
        std::ofstream(ini, std::ios::trunc) << text;
        std::string iniArg = "=" + ini;
        std::vector<char *> argv = {const_cast<char *>(data_.c_str()), iniArg.data()};
        ASSERT_EQ(NOERROR, NotesInitExtended(2, argv.data()));
        started_ = true;
    }

    static bool writeFile(const std::string &file, const std::string &content) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << content;
        return static_cast<bool>(out);
    }
    static std::string readFile(const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool exists(const std::string &file) {
        struct stat st;
        return lstat(file.c_str(), &st) == 0;
    }
    static bool makeDir(const std::string &dir) { return mkdir(dir.c_str(), 0755) == 0; }

    std::string root_;
    std::string data_;
    bool started_ = false;
};

// A message buffer of exactly the contract size, holding a marker so a test
// can tell whether it was written.
struct MessageBuffer {
    std::vector<char> bytes = std::vector<char>(4096, '\0');
    MessageBuffer() { strcpy(bytes.data(), "untouched"); }
    char *get() { return bytes.data(); }
    std::string text() const { return std::string(bytes.data()); }
};

#endif
