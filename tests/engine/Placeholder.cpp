#include <gtest/gtest.h>
TEST(Placeholderengine, Builds) { SUCCEED(); }
