#include <gtest/gtest.h>

#include <string>

#include "ombra/common/names.h"

using ombra::isPlainName;

TEST(PlainName, OrdinaryNamesPass) {
    for (const char* name : {"SST", "Intel", "AMD", "Common", "QuaspDbg", "a.b", ".hidden", "x.", "A B", "Nr_1-2"})
        EXPECT_TRUE(isPlainName(name)) << name;
    EXPECT_TRUE(isPlainName("\xC3\xA9t\xC3\xA9"));  // bytes above ASCII are not control characters
    EXPECT_TRUE(isPlainName(std::string(ombra::kMaxPlainNameLength, 'a')));
}

TEST(PlainName, NamesThatLeaveTheirFolderAreRefused) {
    for (const char* name : {"", ".", "..", "../x", "../../x", "x/..", "a/b", "/abs", "a\\b", "..\\x", "\\", "a..b",
                             "x..", "...", "a\tb", "a\nb", "\r", "\x1b[2J", "del\x7f"})
        EXPECT_FALSE(isPlainName(name)) << name;
    EXPECT_FALSE(isPlainName(std::string_view("SST\0/x", 6)));  // a NUL cuts a C text short
    EXPECT_FALSE(isPlainName(std::string(ombra::kMaxPlainNameLength + 1, 'a')));
}
