#include "support/kvnet_test_networks.h"

#include "store/kvnet_network.h"

namespace kvnet::test {

std::int32_t NodeAt(const TNetwork& net, double x, double y) {
  for (std::int32_t n = 1; n <= net.NodeCount(); ++n) {
    if (net.Node2Coordinate(n) == TFloatPoint{x, y}) return n;
  }
  return 0;
}

std::vector<TSupportLink> SampleLinks() {
  auto links = ParseLinks(
      "0 0, 100 0;"                     // 1 A-B
      "100 0, 200 0;"                   // 2 B-C
      "100 0, 100 100;"                 // 3 B-D
      "100 100, 100 200;"               // 4 D-E
      "100 200, 100 300;"               // 5 E-F
      "200 0, 250 50, 300 0;"           // 6 C-G
      "200 0, 250 -50, 300 0;"          // 7 C-G
      "50 50;"                          // 8 non-valid
      "300 0, 350 50, 350 -50, 300 0;"  // 9 loop at G
      "0 0, 0 100;"                     // 10 A-H one-way FT
      "0 0, 0 100;"                     // 11 A-H one-way TF
      "100 100, 200 0");                // 12 D-C
  links[9].attribute = 0x0200;
  links[10].attribute = 0x0400;
  links[0].attribute = 3;       // road class 3
  links[1].attribute = 0x00E5;  // road class 5, hierarchy 7
  return links;
}

std::vector<TSupportLink> NoDriveThroughLinks() {
  auto links = ParseLinks(
      "-10 0, 0 0; 0 0, 10 0; 10 0, 20 0; 0 0, 0 20; 0 20, 20 20; 20 20, 20 0; 20 0, 30 0");
  links[1].attribute = 0x0100;
  links[2].attribute = 0x0100;
  return links;
}

TNetworkDir::TNetworkDir(const std::vector<TSupportLink>& links,
                         const TNetworkWriterOptions& options)
    : FResult(WriteNetwork(FDir.Path().string(), links, options)) {}

}  // namespace kvnet::test
