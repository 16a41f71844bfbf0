#include <gtest/gtest.h>

#include "settings.h"

namespace {

// Read sizes typed into the dialog and values read from a settings file anyone can edit.
TEST(ParseNumberTest, ReadsAsAtoiDoesButClampsInsteadOfWrapping) {
  EXPECT_EQ(parseNumber("128"), 128);
  EXPECT_EQ(parseNumber("  \t64"), 64);
  EXPECT_EQ(parseNumber("+7"), 7);
  EXPECT_EQ(parseNumber("-5"), -5);
  EXPECT_EQ(parseNumber("12abc"), 12);
  EXPECT_EQ(parseNumber("abc"), 0);
  EXPECT_EQ(parseNumber(" "), 0);
  EXPECT_EQ(parseNumber("- 5"), 0);
  EXPECT_EQ(parseNumber("0x20"), 0);
  // Far beyond 32 bits: must not wrap round into the accepted range.
  EXPECT_EQ(parseNumber("4294967328"), INT32_MAX);
  EXPECT_EQ(parseNumber("-4294967328"), INT32_MIN);
  EXPECT_EQ(parseNumber("000000000000000000000000128"), 128);
}

}  // namespace
