// Networks for the benchmarks: the generated road network of about a million links and the real
// Baltimore network (written from its shapefile geometry and attribute words), each written once
// per process into a temporary folder and removed at exit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/kvnet_network_writer.h"

namespace kvnet::bench {

struct TBenchNetworkDir {
  std::string directory;  // with a trailing '/'
  std::int32_t links = 0;
  std::int64_t fileBytes = 0;
  std::string name;
  ~TBenchNetworkDir();
};

// The generated grid network (965,089 links), in metres.
const TBenchNetworkDir& GeneratedNetwork();
// The Baltimore network in degrees, or nullptr when ../shared/data/baltimore is absent.
const TBenchNetworkDir* BaltimoreNetwork();

}  // namespace kvnet::bench
