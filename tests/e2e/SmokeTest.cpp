#include <gtest/gtest.h>
TEST(E2eSmoke, Builds) { SUCCEED(); }
