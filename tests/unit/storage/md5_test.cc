// Content-MD5: RFC 1321's own test strings, and base64 as the header has it.
#include "storage/md5.h"

#include <gtest/gtest.h>

#include <string>

using namespace nsfmend;  // the module under test

namespace {

std::string Hex(const std::string &bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

TEST(Md5, GivesTheRfcsDigestsInOnePieceOrMany) {
    const struct {
        const char *text;
        const char *digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) {
        Md5 whole;
        whole.update(c.text, strlen(c.text));
        EXPECT_EQ(c.digest, Hex(whole.digest())) << c.text;
        Md5 pieces;  // across the 64-byte blocks, a byte at a time
        for (const char *p = c.text; *p != '\0'; ++p) pieces.update(p, 1);
        EXPECT_EQ(c.digest, Hex(pieces.digest())) << c.text;
    }
}

TEST(Md5, Base64PadsAsContentMd5Wants) {
    EXPECT_EQ("", base64(""));
    EXPECT_EQ("Zg==", base64("f"));
    EXPECT_EQ("Zm8=", base64("fo"));
    EXPECT_EQ("Zm9v", base64("foo"));
    Md5 empty;
    EXPECT_EQ("1B2M2Y8AsgTpgAmY7PhCfg==", base64(empty.digest()));
}

}  // namespace
