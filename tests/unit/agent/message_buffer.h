// A backup agent's message buffer for the tests of its operations.
#ifndef NSFMEND_TESTS_AGENT_MESSAGE_BUFFER_H
#define NSFMEND_TESTS_AGENT_MESSAGE_BUFFER_H

#include <string.h>

#include <string>
#include <vector>

// A message buffer of exactly the contract size, holding a marker so a test
// can tell whether it was written.
struct MessageBuffer {
    std::vector<char> bytes = std::vector<char>(4096, '\0');
    MessageBuffer() { strcpy(bytes.data(), "untouched"); }
    char *get() { return bytes.data(); }
    std::string text() const { return std::string(bytes.data()); }
};

#endif
