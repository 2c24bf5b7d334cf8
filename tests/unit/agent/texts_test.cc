// The header's lists of texts are the texts the library can write: a text
// changed, added or dropped on one side only fails here, and so does an
// NSFMEND_TEXT_ name the sources use that the one list does not define.
#include "agent/texts.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// The texts agent.h lists: a comment line " *   \"...", the text running on
// over comment lines until its closing quote, "\n" as written in C.
std::set<std::string> headerTexts() {
    std::ifstream in(std::string(TEST_SOURCE_DIR) + "/../src/agent/include/nsfmend/agent.h");
    std::set<std::string> texts;
    std::string line, text;
    bool open = false;
    while (std::getline(in, line)) {
        size_t from;
        if (open) {
            from = line.find_first_not_of(" *");
            if (from == std::string::npos) continue;
            text += ' ';
        } else if (line.rfind(" *   \"", 0) == 0 && line.rfind(" *   \"...", 0) != 0) {
            from = 6;
            text.clear();
            open = true;
        } else {
            continue;
        }
        for (size_t i = from; i < line.size() && open; ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
                text += '\n';
                ++i;
            } else if (line[i] == '"') {
                texts.insert(text);
                open = false;
            } else {
                text += line[i];
            }
        }
    }
    return texts;
}

std::string listed(const std::set<std::string> &texts) {
    std::ostringstream out;
    for (const std::string &t : texts) out << "  \"" << t << "\"\n";
    return out.str();
}

TEST(AgentTexts, TheHeaderListsExactlyWhatTheLibraryCanWrite) {
    const std::set<std::string> header = headerTexts();
    ASSERT_GT(header.size(), 20u) << "the header's lists were not found";
    const std::vector<std::string> all = nsfmend::agentTexts();
    const std::set<std::string> library(all.begin(), all.end());
    std::set<std::string> onlyHeader, onlyLibrary;
    for (const std::string &t : header)
        if (library.count(t) == 0) onlyHeader.insert(t);
    for (const std::string &t : library)
        if (header.count(t) == 0) onlyLibrary.insert(t);
    EXPECT_TRUE(onlyHeader.empty()) << "listed in agent.h, never written:\n" << listed(onlyHeader);
    EXPECT_TRUE(onlyLibrary.empty()) << "written, not listed in agent.h:\n" << listed(onlyLibrary);
}

// A text defined beside the list (a macro of its own) would be written
// without being compared with agent.h.
TEST(AgentTexts, EveryTextTheSourcesNameIsInTheList) {
#define NSFMEND_NAME_TEXT(name, text) #name,
    const std::set<std::string> names = {NSFMEND_AGENT_TEXTS(NSFMEND_NAME_TEXT)};
#undef NSFMEND_NAME_TEXT
    const std::regex name("NSFMEND_TEXT_[A-Z0-9_]+");
    std::set<std::string> unlisted;
    for (const auto &entry :
         std::filesystem::recursive_directory_iterator(std::string(TEST_SOURCE_DIR) + "/../src")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path());
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it)
            if (names.count(it->str()) == 0) unlisted.insert(entry.path().string() + ": " + it->str());
    }
    EXPECT_GT(names.size(), 15u);
    EXPECT_TRUE(unlisted.empty()) << "not in NSFMEND_AGENT_TEXTS:\n" << listed(unlisted);
}

}  // namespace
