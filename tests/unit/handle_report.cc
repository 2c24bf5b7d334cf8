// Linked into every unit test: a test fails when a database handle was still
// open as the runtime stopped. The emulator reports each such handle to the
// file NOTESEMU_HANDLE_REPORT names; this listener gives every test its own
// file and reads it back when the test ends.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

class HandleReport : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &) override {
        char pattern[] = "/tmp/nsfmend-handles.XXXXXX";
        int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        path_ = pattern;
        setenv("NOTESEMU_HANDLE_REPORT", path_.c_str(), 1);
    }
    void OnTestEnd(const ::testing::TestInfo &) override {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), "") << "database handles left open at NotesTerm";
        unlink(path_.c_str());
        unsetenv("NOTESEMU_HANDLE_REPORT");
    }
    std::string path_;
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new HandleReport);
    return true;
}();

}  // namespace
