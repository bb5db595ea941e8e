#include <gtest/gtest.h>
TEST(Placeholderbase, Builds) { SUCCEED(); }
