// Opening a network whose files were cut short, overwritten or enciphered with another key must
// raise an exception for every case: no crash, no hang, no network that fails later.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "foundation/kvnet_exceptions.h"
#include "store/kvnet_configfile.h"
#include "store/kvnet_network.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

using test::ReadFileBytes;
using test::TNetworkDir;
using test::WriteFileBytes;

// Replaces the 32-bit word at index in a file.
void PatchWord(const std::string& file, std::size_t index, std::uint32_t value) {
  std::string bytes = ReadFileBytes(file);
  std::memcpy(bytes.data() + 4 * index, &value, 4);
  WriteFileBytes(file, bytes);
}

void PatchFloat(const std::string& file, std::size_t index, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  PatchWord(file, index, bits);
}

void Cut(const std::string& file, std::size_t bytes) {
  const std::string data = ReadFileBytes(file);
  WriteFileBytes(file, data.substr(0, data.size() - std::min(bytes, data.size())));
}

void Append(const std::string& file, const std::string& extra) {
  WriteFileBytes(file, ReadFileBytes(file) + extra);
}

void RewriteConfig(const TNetworkDir& dir, std::int32_t linkCount) {
  WriteConfig(dir.Path(), false, cuM, {0, -50, 350, 300}, linkCount, 0, "", "");
}

TEST(NetworkCorruption, EveryDamagedFileRaisesOnOpen) {
  // node.bin of the sample: word 0 MaxDegree 4, words 1..4 the counts, then 22 slots.
  struct TCase {
    const char* what;
    std::function<void(const TNetworkDir&)> damage;
  };
  const TCase cases[] = {
      {"length.bin short", [](const TNetworkDir& d) { Cut(d.File("length.bin"), 4); }},
      {"length.bin long", [](const TNetworkDir& d) { Append(d.File("length.bin"), "abcd"); }},
      {"length NaN",
       [](const TNetworkDir& d) {
         PatchFloat(d.File("length.bin"), 2, std::numeric_limits<float>::quiet_NaN());
       }},
      {"length negative", [](const TNetworkDir& d) { PatchFloat(d.File("length.bin"), 0, -1); }},
      {"length of a non-valid link",
       [](const TNetworkDir& d) {
         PatchFloat(d.File("length.bin"), 7, 0.5f);  // link 8 then needs nodes it does not have
       }},
      {"link.bin short", [](const TNetworkDir& d) { Cut(d.File("link.bin"), 1); }},
      {"link node too high", [](const TNetworkDir& d) { PatchWord(d.File("link.bin"), 0, 9); }},
      {"link node negative",
       [](const TNetworkDir& d) { PatchWord(d.File("link.bin"), 3, 0xFFFFFFFFU); }},
      {"non-valid link with nodes",
       [](const TNetworkDir& d) { PatchWord(d.File("link.bin"), 14, 1); }},
      {"coord.bin short", [](const TNetworkDir& d) { Cut(d.File("coord.bin"), 8); }},
      {"coord.bin extra node",
       [](const TNetworkDir& d) { Append(d.File("coord.bin"), std::string(16, '\0')); }},
      {"coordinate NaN",
       [](const TNetworkDir& d) {
         PatchWord(d.File("coord.bin"), 1, 0xFFFFFFFFU);  // high word of node 1's x
       }},
      {"node.bin empty", [](const TNetworkDir& d) { WriteFileBytes(d.File("node.bin"), ""); }},
      {"node.bin short", [](const TNetworkDir& d) { Cut(d.File("node.bin"), 4); }},
      {"node.bin long", [](const TNetworkDir& d) { Append(d.File("node.bin"), "\x01\0\0\0"); }},
      {"MaxDegree huge",
       [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 0, 0x7FFFFFFF); }},
      {"MaxDegree negative",
       [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 0, 0x80000000U); }},
      {"MaxDegree smaller", [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 0, 3); }},
      {"count huge", [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 4, 0x7FFFFFFF); }},
      {"count falling", [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 2, 1); }},
      {"count negative",
       [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 1, 0xFFFFFFFEU); }},
      {"slot zero", [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 5, 0); }},
      {"slot beyond", [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 5, 13); }},
      {"slot non-valid", [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 5, 8); }},
      {"slot of another node", [](const TNetworkDir& d) { PatchWord(d.File("node.bin"), 5, 1); }},
      {"slot twice",
       [](const TNetworkDir& d) {
         const std::string bytes = ReadFileBytes(d.File("node.bin"));
         std::uint32_t first;
         std::memcpy(&first, bytes.data() + 20, 4);
         PatchWord(d.File("node.bin"), 6, first);
       }},
      {"coord3i.bin short", [](const TNetworkDir& d) { Cut(d.File("coord3i.bin"), 4); }},
      {"coord3i.bin falls",
       [](const TNetworkDir& d) {
         PatchWord(d.File("coord3i.bin"), 6, 5);  // more than link 7 ends at
       }},
      {"coord3.bin short", [](const TNetworkDir& d) { Cut(d.File("coord3.bin"), 16); }},
      {"shape point NaN",
       [](const TNetworkDir& d) { PatchWord(d.File("coord3.bin"), 1, 0x7FF80000U); }},
      {"link count huge", [](const TNetworkDir& d) { RewriteConfig(d, 2000000000); }},
      {"link count negative", [](const TNetworkDir& d) { RewriteConfig(d, -12); }},
      {"link count one less", [](const TNetworkDir& d) { RewriteConfig(d, 11); }},
      {"config garbage",
       [](const TNetworkDir& d) {
         WriteFileBytes(d.File("kvnet_config.ini"), std::string("\0\xFF[kvnet\r\n=", 11));
       }},
      {"attribute.bin short", [](const TNetworkDir& d) { Cut(d.File("attribute.bin"), 2); }},
      {"file missing", [](const TNetworkDir& d) { std::filesystem::remove(d.File("link.bin")); }},
  };
  for (const TCase& c : cases) {
    const TNetworkDir dir(test::SampleLinks());
    c.damage(dir);
    TNetwork net;
    net.SetDirectory(dir.Path());
    try {
      net.Open(true, true, false, 0);
      ADD_FAILURE() << c.what << ": opened";
    } catch (const Exception& e) {
      EXPECT_FALSE(net.IsOpen()) << c.what;
      EXPECT_NE(std::string(e.what()), "") << c.what;
    }
  }
}

TEST(NetworkCorruption, AWrongKeyIsAnErrorNotACrash) {
  test::TNetworkWriterOptions options;
  options.key = 20240611;
  const TNetworkDir dir(test::SampleLinks(), options);
  for (const std::int64_t key : {std::int64_t{20240612}, std::int64_t{1}, std::int64_t{1} << 40}) {
    for (const bool cache : {true, false}) {
      TNetwork net;
      net.SetDirectory(dir.Path());
      net.SetEncryptionKey(key);
      EXPECT_THROW(net.Open(true, cache, false, 0), Exception) << key;
      EXPECT_FALSE(net.IsOpen());
    }
  }
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.SetEncryptionKey(-3);
  EXPECT_THROW(net.Open(true, true, false, 0), EInvalidParameter);
  net.SetEncryptionKey(20240611);
  net.Open(true, true, false, 0);
  EXPECT_EQ(net.Link2ToNode(12), 1);
}

}  // namespace
}  // namespace kvnet
