// Small networks shared by the store tests, written with WriteNetwork into a temporary folder.
#pragma once

#include <string>
#include <vector>

#include "support/kvnet_network_writer.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
class TNetwork;
}

namespace kvnet::test {

// The sample network in metres:
//
//   H(0,100) ==10/11== A(0,0) --1-- B(100,0) --2-- C(200,0) ==6/7== G(300,0) @9
//                                   |              /
//                                   3            12
//                                   |          /
//                                 D(100,100)
//                                   |4
//                                 E(100,200)
//                                   |5
//                                 F(100,300)
//
// Links 10 (one-way FT) and 11 (one-way TF) are identical twins; 6 and 7 are a parallel pair
// with different shape points; 8 is a single point (a non-valid link); 9 is a loop at G; 4 and 5
// form a dead-end chain. Nodes: C=1, G=2, A=3, B=4, D=5, H=6, E=7, F=8.
std::vector<TSupportLink> SampleLinks();

// Two ways from west (-10,0) to east (30,0): straight through a no-drive-through area (links 2
// and 3, 20 m) or around it (links 4, 5 and 6, 60 m).
std::vector<TSupportLink> NoDriveThroughLinks();

// The node at exactly this coordinate, or 0.
std::int32_t NodeAt(const TNetwork& net, double x, double y);

// A temporary folder holding a network written from links.
class TNetworkDir {
 public:
  TNetworkDir(const std::vector<TSupportLink>& links, const TNetworkWriterOptions& options = {});
  std::string Path() const { return FDir.Path().string() + "/"; }
  std::string File(const std::string& name) const { return FDir.File(name); }
  const TNetworkWriterResult& Written() const { return FResult; }

 private:
  TTempDir FDir;
  TNetworkWriterResult FResult;
};

}  // namespace kvnet::test
