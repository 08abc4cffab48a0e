#include "store/kvnet_turn.h"

#include <gtest/gtest.h>

#include "foundation/kvnet_exceptions.h"

namespace kvnet {
namespace {

TTurnRestriction Sequence(std::initializer_list<std::int32_t> links, float value) {
  TTurnRestriction item;
  for (const std::int32_t link : links)
    item.links.Add(link);
  item.value = value;
  return item;
}

TEST(TurnRestrictions, AddReplacesAndRemovesBySequence) {
  TTurnRestrictions set(70000);
  TIntegerList list;
  EXPECT_FALSE(set.GetList(2, list));
  set.AddSimple(1, 2, 5);
  set.AddSimple(1, 2, 7);
  EXPECT_EQ(set.Count(), 1);
  ASSERT_TRUE(set.GetList(2, list));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(set.GetTR(list[0]).value, 7);
  // 65005 shares the bucket of 2 but is found only under its own link.
  set.Add(Sequence({3, 4, 65005}, -1));
  ASSERT_TRUE(set.GetList(65005, list));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(set.GetTR(list[0]).links.Count(), 3);
  ASSERT_TRUE(set.GetList(2, list));
  EXPECT_EQ(list.Count(), 1);
  // Value 0 removes the sequence from the lookups; the entry stays counted.
  set.AddSimple(1, 2, 0);
  EXPECT_FALSE(set.GetList(2, list));
  EXPECT_TRUE(set.GetList(65005, list));
  EXPECT_EQ(set.Count(), 2);
  set.AddSimple(4, 4, 3);  // one link twice: ignored
  EXPECT_EQ(set.Count(), 2);

  TTurnRestrictions copy(1);
  set.Clone(copy);
  set.Clear();
  EXPECT_EQ(set.Count(), 0);
  EXPECT_FALSE(set.GetList(65005, list));
  EXPECT_TRUE(copy.GetList(65005, list));
}

TEST(TurnRestrictions, BadSequencesRaise) {
  TTurnRestrictions set(10);
  EXPECT_THROW(set.Add(Sequence({1}, -1)), EInvalidParameter);
  EXPECT_THROW(set.Add(Sequence({1, 2, 3, 4, 5, 6, 7}, -1)), EInvalidParameter);
  EXPECT_THROW(set.AddSimple(0, 2, -1), EOutOfRange);
  EXPECT_THROW(set.AddSimple(1, 11, -1), EOutOfRange);
  EXPECT_THROW(set.GetTR(0), EOutOfRange);
  TIntegerList list;
  EXPECT_FALSE(set.GetList(11, list));
  EXPECT_FALSE(set.GetList(-3, list));
}

}  // namespace
}  // namespace kvnet
