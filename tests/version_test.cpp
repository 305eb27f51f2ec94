#include <gtest/gtest.h>
#include "quillon/quillon.h"
#include <cstring>
TEST(Version, ConstantsHaveTheirExactBytes) {
    EXPECT_EQ(QuillonVersionNumber, 1.0);
    const char* expected = "@(#)PROGRAM:Quillon  PROJECT:Quillon-1\n";
    EXPECT_EQ(0, std::memcmp(QuillonVersionString, expected, std::strlen(expected) + 1));
}
