// Numbers and raw bytes as the engine spells them for the export and `sql`.
#include <gtest/gtest.h>

#include <cmath>

#include "db/value_text.h"

namespace xb::db {
namespace {

TEST(FloatTextTest, FifteenSignificantDigitsAsTheWorkbookSpellsThem) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.1 + 0.2, "0.3"},
      {1e20, "1E+20"},
      {-1e20, "-1E+20"},
      {1.5, "1.5"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E+15"},
      {1234567890123456789.0, "1.23456789012346E+18"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {-1.5e-7, "-1.5E-07"},
      {100.25, "100.25"},
      {-0.0, "0"},
      {123456.7890123456, "123456.789012346"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatText(c.value), c.text) << c.value;
}

TEST(BlobTextTest, UpperCaseHexTwoDigitsAByte) {
  EXPECT_EQ(BlobText("\xFF\x00\x0A", 3), "FF000A");
  EXPECT_EQ(BlobText("", 0), "");
}

}  // namespace
}  // namespace xb::db
