#include <gtest/gtest.h>
TEST(Placeholderupdate, Builds) { SUCCEED(); }
