#include <gtest/gtest.h>
TEST(Placeholderdevice, Builds) { SUCCEED(); }
