#include "foundation/kvnet_bitarray.h"

#include <gtest/gtest.h>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {
namespace {

TEST(BitArray, SizesCountsAndOpenBits) {
  TBitArray bits(40);
  EXPECT_EQ(bits.CountTrue(), 0);
  bits.SetAllTrue();
  EXPECT_EQ(bits.CountTrue(), 40);
  bits.SetSize(35);
  EXPECT_EQ(bits.CountTrue(), 35);
  EXPECT_EQ(bits.OpenBit(), 35);
  bits.SetSize(64);  // the bits above 35 came back as zeros
  EXPECT_EQ(bits.CountTrue(), 35);
  EXPECT_EQ(bits.CountFalse(), 29);
  bits.SetBit2(36, true);
  EXPECT_EQ(bits.OpenBitOffset(36), 35);  // the scan starts at the word that holds the index
  EXPECT_EQ(bits.OpenBitOffset(40), 35);
  bits.SetBit(70, true);
  EXPECT_EQ(bits.Size(), 71);
  EXPECT_TRUE(bits.GetBit(70));
  bits.SetAllTrue();
  EXPECT_EQ(bits.OpenBit(), 71);
  EXPECT_EQ(bits.OpenBitOffset(1000), 71);
}

TEST(BitArray, NotAndOrKeepTheTailClear) {
  TBitArray a(37);
  a.SetBit2(1, true);
  a.SetBit2(36, true);
  a.P_Not();
  EXPECT_EQ(a.CountTrue(), 35);
  TBitArray b(37);
  b.SetBit2(2, true);
  b.SetBit2(36, true);
  TBitArray c;
  a.Clone(c);
  c.P_And(b);
  EXPECT_EQ(c.CountTrue(), 1);
  EXPECT_TRUE(c.GetBit(2));
  c.P_Or(b);
  EXPECT_EQ(c.CountTrue(), 2);
  c.Assign(a);
  EXPECT_EQ(c, a);
}

TEST(BitArray, BadIndexesAndSizesRaise) {
  TBitArray bits(10);
  TBitArray other(11);
  const auto expectError = [](auto&& call, const char* message) {
    try {
      call();
      ADD_FAILURE() << "no exception for " << message;
    } catch (const EBitArrayError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  expectError([&] { bits.GetBit(10); }, "TBitArray: Index out of range");
  expectError([&] { bits.GetBit(-1); }, "TBitArray: Index out of range");
  expectError([&] { bits.SetBit2(10, true); }, "TBitArray: Index out of range");
  expectError([&] { bits.SetBit(-1, true); }, "TBitArray: Index out of range");
  expectError([&] { bits.SetSize(-1); }, "TBitArray: Index out of range");
  expectError([&] { bits.SetSize((std::int64_t{1} << 37) - 31); }, "TBitArray: Index out of range");
  expectError([&] { bits.OpenBitOffset(-5); }, "TBitArray: Index out of range");
  expectError([&] { bits.Assign(other); }, "TBitArray: Not the same size");
  expectError([&] { bits.P_And(other); }, "TBitArray: Not the same size");
  expectError([&] { other.P_Or(bits); }, "TBitArray: Not the same size");
  EXPECT_EQ(bits.Size(), 10);
}

TEST(BitArray, FromIntegerArrayAndRoute) {
  TBitArray bits;
  bits.SetFromIntegerArray({5, 0, 3, 0, -1});
  EXPECT_EQ(bits.Size(), 5);
  EXPECT_FALSE(bits.GetBit(0));  // position 0 stays clear
  EXPECT_TRUE(bits.GetBit(2));
  EXPECT_TRUE(bits.GetBit(4));
  EXPECT_EQ(bits.CountTrue(), 2);

  TRoute route;
  route.links = {3, -7, 1};
  bits.SetFromTRoute(route);
  EXPECT_EQ(bits.Size(), 8);
  EXPECT_TRUE(bits.GetBit(7));
  EXPECT_TRUE(bits.GetBit(1));
  EXPECT_TRUE(bits.GetBit(3));
  EXPECT_EQ(bits.CountTrue(), 5);  // 1, 2, 3, 4, 7
}

}  // namespace
}  // namespace kvnet
