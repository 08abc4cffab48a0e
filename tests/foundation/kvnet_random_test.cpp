#include "foundation/kvnet_random.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "foundation/kvnet_baselist.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

// Sections of tests/fixtures/random/seed_987654321.txt, written by tools/random_reference.py.
std::map<std::string, std::vector<std::string>> ReadReference() {
  std::ifstream in(test::FixturePath("random/seed_987654321.txt"));
  std::map<std::string, std::vector<std::string>> sections;
  std::string line;
  std::string current;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      current = line.substr(1, line.find(']') - 1);
      continue;
    }
    sections[current].push_back(line);
  }
  return sections;
}

constexpr std::int64_t kSeed = 987654321;

TEST(Random, SequenceForTheDemoSeedMatchesTheReference) {
  const auto reference = ReadReference();
  ASSERT_EQ(reference.at("speeds").size(), 1000u);

  TRandom r;
  r.SetSeed(kSeed);
  for (std::size_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(r.NextInt(40) + 60, std::stoi(reference.at("speeds")[i])) << "draw " << i;
  }
  r.SetSeed(kSeed);
  for (std::size_t i = 0; i < reference.at("doubles").size(); ++i) {
    ASSERT_EQ(r.NextDouble(), std::stod(reference.at("doubles")[i])) << "draw " << i;
  }
  r.SetSeed(kSeed);
  for (std::size_t i = 0; i < reference.at("states").size(); ++i) {
    r.NextDouble();
    ASSERT_EQ(r.Seed(), std::stoll(reference.at("states")[i])) << "step " << i;
  }
}

TEST(Random, WideAndNegativeSeedsWrapIntoThe32BitState) {
  const auto reference = ReadReference();
  const std::int64_t seeds[] = {-1, -987654321, (std::int64_t{1} << 40) + 5};
  for (std::size_t i = 0; i < 3; ++i) {
    TRandom r;
    r.SetSeed(seeds[i]);
    const std::int32_t v = r.NextInt(1000000);
    EXPECT_EQ(v, std::stoi(reference.at("wrap")[i])) << "seed " << seeds[i];
    EXPECT_GE(r.Seed(), 0);
    EXPECT_LT(r.Seed(), std::int64_t{1} << 32);
  }
}

TEST(Random, SeededShuffleMatchesTheReference) {
  const auto reference = ReadReference();
  TIntegerList list;
  for (std::int32_t v = 0; v < 20; ++v)
    list.Add(v);
  TRandom r;
  r.SetSeed(kSeed);
  list.Shuffle(r);
  EXPECT_FALSE(list.Sorted());
  for (std::int32_t i = 0; i < 20; ++i) {
    EXPECT_EQ(list[i], std::stoi(reference.at("shuffle")[static_cast<std::size_t>(i)]));
  }
}

TEST(Random, RandomizeGivesDifferentStatesInRange) {
  TRandom a;
  TRandom b;
  a.Randomize();
  b.Randomize();
  EXPECT_NE(a.Seed(), b.Seed());
  for (int i = 0; i < 1000; ++i) {
    const std::int32_t v = a.NextInt(7);
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 7);
  }
}

}  // namespace
}  // namespace kvnet
