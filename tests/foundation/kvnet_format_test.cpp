#include "foundation/kvnet_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {
namespace {

struct TGeneralCase {
  double value;
  const char* text;
};

TEST(FormatGeneral, WritesTheShortestTextWithAtMost15SignificantDigits) {
  const TGeneralCase cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1.0, "1"},
      {-1.5, "-1.5"},
      {100.0, "100"},
      {-1234.5678, "-1234.5678"},
      {0.1 + 0.2, "0.3"},  // 0.30000000000000004 rounds at 15 digits
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {123456789012345.0, "123456789012345"},  // 15 integer digits: still fixed
      {999999999999999.0, "999999999999999"},
      {1e15, "1E15"},  // 16 integer digits: exponent form
      {1234567890123456.0, "1.23456789012346E15"},
      {1.5e20, "1.5E20"},
      {-2.5e300, "-2.5E300"},
      {0.00001, "0.00001"},  // the smallest magnitude written without exponent
      {0.0000123, "0.0000123"},
      {9.9e-6, "9.9E-6"},
      {1e-6, "1E-6"},
      {-1.25e-7, "-1.25E-7"},
      {5e-324, "4.94065645841247E-324"},
      {6378.13, "6378.13"},
      {0.017453292519943295, "0.0174532925199433"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatGeneral(c.value), c.text) << "value " << c.value;
  }
}

TEST(FormatGeneral, NonFiniteValues) {
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FormatGeneral, SinglePrecisionUsesItsOwnShortestText) {
  EXPECT_EQ(FormatGeneral(3.85f), "3.85");
  // The double widening of the same value shows all its digits.
  EXPECT_EQ(FormatGeneral(static_cast<double>(3.85f)), "3.84999990463257");
  EXPECT_EQ(FormatGeneral(1e38f), "1E38");
  EXPECT_EQ(FormatGeneral(0.1f), "0.1");
  EXPECT_EQ(FormatGeneral(-16777217.0f), "-16777216");
  EXPECT_EQ(FormatGeneral(1e-6f), "1E-6");
}

TEST(FormatGeneral, ReducedPrecision) {
  EXPECT_EQ(FormatGeneral(3.14159265, 3), "3.14");
  EXPECT_EQ(FormatGeneral(123456.0, 3), "1.23E5");
}

TEST(FormatFixed, RoundsToTheGivenDecimals) {
  EXPECT_EQ(FormatFixed(3.14159, 3), "3.142");
  EXPECT_EQ(FormatFixed(2.5, 0), "2");  // the nearest value, halves to even
  EXPECT_EQ(FormatFixed(-0.001, 2), "0.00");
  EXPECT_EQ(FormatFixed(1e20, 1), "100000000000000000000.0");
}

TEST(Format, MessagesWithEverySpecifier) {
  EXPECT_EQ(Format("Link-ID must be >=1: %d", -5), "Link-ID must be >=1: -5");
  EXPECT_EQ(Format("File is missing: %s", std::string("a/b.bin")), "File is missing: a/b.bin");
  EXPECT_EQ(Format("Coordinates (%g , %g) are beyond search area", 1.5, -2e-7),
            "Coordinates (1.5 , -2E-7) are beyond search area");
  EXPECT_EQ(Format("Speed should be >0 (is %n)", -1234567.891),
            "Speed should be >0 (is -1,234,567.89)");
  EXPECT_EQ(Format("%n", 0.5), "0.50");
  EXPECT_EQ(Format("%.0n", 1234.0), "1,234");
  EXPECT_EQ(Format("%8.3f|%-8.3f|", 3.14159, 2.0), "   3.142|2.000   |");
  EXPECT_EQ(Format("%x %x %x", 255, -1, std::int64_t{-1}), "FF FFFFFFFF FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Format("%.5d|%3d|%-3d|", 42, 7, 7), "00042|  7|7  |");
  EXPECT_EQ(Format("100%% of %d", 3), "100% of 3");
  EXPECT_EQ(Format("%.3s", "abcdef"), "abc");
  EXPECT_EQ(Format("%d items, %s", std::uint64_t{18446744073709551615ULL}, "x"),
            "18446744073709551615 items, x");
}

TEST(Format, MismatchedOrMissingArgumentsNeverFail) {
  EXPECT_EQ(Format("%d and %d", 1), "1 and %d");
  EXPECT_EQ(Format("%d", 2.5), "2.5");
  EXPECT_EQ(Format("%f", "text"), "text");
  EXPECT_EQ(Format("%s", 3.85f), "3.85");
  EXPECT_EQ(Format("trailing %"), "trailing %");
  EXPECT_EQ(Format("%q", 1), "%q");
}

TEST(TruncNoise, TruncatesWithoutLosingIntegersToRounding) {
  EXPECT_EQ(0.29 * 100, 28.999999999999996);  // the noise this guards against
  EXPECT_EQ(TruncNoise(0.29 * 100), 29);
  EXPECT_EQ(TruncNoise((1.15 - 0.1) * 100), 105);
  EXPECT_EQ(TruncNoise(2.7), 2);
  EXPECT_EQ(TruncNoise(-2.7), -2);
  EXPECT_EQ(TruncNoise(29.9999), 29);  // a real fraction is still cut
  EXPECT_EQ(TruncNoise(-0.0), 0);
  EXPECT_THROW(TruncNoise(std::numeric_limits<double>::quiet_NaN()), EOutOfRange);
  EXPECT_THROW(TruncNoise(1e19), EOutOfRange);
}

}  // namespace
}  // namespace kvnet
