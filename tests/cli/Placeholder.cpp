#include <gtest/gtest.h>
TEST(Placeholdercli, Builds) { SUCCEED(); }
