#include "support/kvnet_network_writer.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "spatial/kvnet_quadtreesetup.h"
#include "store/kvnet_configfile.h"
#include "store/kvnet_encryption.h"

namespace kvnet::test {

namespace {

using TKey = std::pair<double, double>;

std::string Join(const std::string& directory, const std::string& name) {
  return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

std::unique_ptr<TKVBufferedStream> Create(const std::string& directory, const std::string& name) {
  return std::make_unique<TKVBufferedStream>(
      std::make_unique<TKVFileStream>(Join(directory, name), fmCreate));
}

std::uint32_t Bits(float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return bits;
}

void WriteDouble(TKVStream& out, T32Encryption& cipher, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  out.WriteUInt32(cipher.Encode(static_cast<std::uint32_t>(bits)));
  out.WriteUInt32(cipher.Encode(static_cast<std::uint32_t>(bits >> 32)));
}

std::string BoundText(double v) {
  return FormatGeneral(std::fabs(v) < 1e-7 ? 0.0 : v);
}

}  // namespace

TNetworkWriterResult WriteNetwork(const std::string& directory,
                                  const std::vector<TSupportLink>& links,
                                  const TNetworkWriterOptions& options) {
  const double distFactor = DistFactor(options.unit);
  TNetworkWriterResult result;
  result.linkCount = static_cast<std::int32_t>(links.size());
  const auto linkCount = links.size();

  // Clean each polyline as the import does and compute its length.
  std::vector<std::vector<TFloatPoint>> lines(linkCount);
  result.length.assign(linkCount + 1, 0);
  TFloatRect box{1e38, 1e38, -1e38, -1e38};
  for (std::size_t i = 0; i < linkCount; ++i) {
    std::vector<TFloatPoint> points = links[i].points;
    if (!options.allowLoops && points.size() >= 2 && points.front() == points.back()) continue;
    for (std::size_t k = points.size(); k-- > 1;) {
      if (points[k] == points[k - 1]) points.erase(points.begin() + static_cast<std::ptrdiff_t>(k));
    }
    if (points.size() < 2) continue;
    double length = 0;
    for (std::size_t k = 1; k < points.size(); ++k) {
      length += UnitDistance(options.unit, points[k - 1], points[k]);
    }
    result.length[i + 1] = static_cast<float>(length * distFactor);
    for (const TFloatPoint& p : points) {
      box.xmin = std::min(box.xmin, p.x);
      box.ymin = std::min(box.ymin, p.y);
      box.xmax = std::max(box.xmax, p.x);
      box.ymax = std::max(box.ymax, p.y);
    }
    lines[i] = std::move(points);
  }

  // Nodes: exact coordinates, degree = number of link ends of valid links.
  std::map<TKey, std::int32_t> degree;
  for (std::size_t i = 0; i < linkCount; ++i) {
    if (result.length[i + 1] == 0) continue;
    ++degree[{lines[i].front().x, lines[i].front().y}];
    ++degree[{lines[i].back().x, lines[i].back().y}];
  }
  if (degree.empty()) throw std::runtime_error("WriteNetwork: no valid link");
  for (const auto& [key, d] : degree)
    result.maxDegree = std::max(result.maxDegree, d);
  // Numbering: degree classes from the highest down, then x, then y (the map's order).
  std::map<TKey, std::int32_t> number;
  std::vector<std::int32_t> countAtLeast(static_cast<std::size_t>(result.maxDegree) + 2, 0);
  result.nodes.assign(1, {});
  for (std::int32_t d = result.maxDegree; d >= 1; --d) {
    for (const auto& [key, deg] : degree) {
      if (deg != d) continue;
      number[key] = static_cast<std::int32_t>(result.nodes.size());
      result.nodes.push_back({key.first, key.second});
    }
    countAtLeast[static_cast<std::size_t>(d)] = static_cast<std::int32_t>(result.nodes.size() - 1);
  }
  result.nodeCount = static_cast<std::int32_t>(result.nodes.size() - 1);
  result.fromNode.assign(linkCount + 1, 0);
  result.toNode.assign(linkCount + 1, 0);
  for (std::size_t i = 0; i < linkCount; ++i) {
    if (result.length[i + 1] == 0) continue;
    result.fromNode[i + 1] = number[{lines[i].front().x, lines[i].front().y}];
    result.toNode[i + 1] = number[{lines[i].back().x, lines[i].back().y}];
  }

  const std::int64_t key = options.key;
  T32Encryption cipher(key);

  {
    auto out = Create(directory, "length.bin");
    for (std::size_t k = 1; k <= linkCount; ++k)
      out->WriteUInt32(cipher.Encode(Bits(result.length[k])));
    out->Flush();
  }
  // link.bin, enciphered or (while the spatial index is built from it) plain.
  const auto writeLinks = [&](std::int64_t linkKey) {
    T32Encryption linkCipher(linkKey);
    auto out = Create(directory, "link.bin");
    for (std::size_t k = 1; k <= linkCount; ++k) {
      out->WriteUInt32(linkCipher.Encode(static_cast<std::uint32_t>(result.fromNode[k])));
      out->WriteUInt32(linkCipher.Encode(static_cast<std::uint32_t>(result.toNode[k])));
    }
    out->Flush();
  };
  writeLinks(options.spatialIndex ? 0 : key);
  {
    cipher.Restart();
    auto out = Create(directory, "coord.bin");
    for (std::size_t n = 1; n < result.nodes.size(); ++n) {
      WriteDouble(*out, cipher, result.nodes[n].x);
      WriteDouble(*out, cipher, result.nodes[n].y);
    }
    out->Flush();
  }
  {
    // Slots per node in link order: a link goes into its from-node, then its to-node.
    std::vector<std::vector<std::int32_t>> slots(result.nodes.size());
    for (std::size_t k = 1; k <= linkCount; ++k) {
      if (result.length[k] == 0) continue;
      slots[static_cast<std::size_t>(result.fromNode[k])].push_back(static_cast<std::int32_t>(k));
      slots[static_cast<std::size_t>(result.toNode[k])].push_back(static_cast<std::int32_t>(k));
    }
    cipher.Restart();
    auto out = Create(directory, "node.bin");
    out->WriteUInt32(cipher.Encode(static_cast<std::uint32_t>(result.maxDegree)));
    for (std::int32_t d = result.maxDegree; d >= 1; --d) {
      out->WriteUInt32(
          cipher.Encode(static_cast<std::uint32_t>(countAtLeast[static_cast<std::size_t>(d)])));
    }
    for (std::size_t n = 1; n < slots.size(); ++n) {
      for (const std::int32_t link : slots[n])
        out->WriteUInt32(cipher.Encode(static_cast<std::uint32_t>(link)));
    }
    out->Flush();
  }
  {
    const T32EncryptionArray positional(key);
    auto points = Create(directory, "coord3.bin");
    auto index = Create(directory, "coord3i.bin");
    std::int64_t written = 0;
    index->WriteInt32(0);
    for (std::size_t i = 0; i < linkCount; ++i) {
      if (result.length[i + 1] != 0) {
        for (std::size_t k = 1; k + 1 < lines[i].size(); ++k) {
          points->WriteInt64(positional.Encode(lines[i][k].x, 2 * written));
          points->WriteInt64(positional.Encode(lines[i][k].y, 2 * written + 1));
          ++written;
        }
      }
      index->WriteInt32(static_cast<std::int32_t>(written));
    }
    points->Flush();
    index->Flush();
  }
  if (options.writeAttributes) {
    cipher.Restart();
    auto out = Create(directory, "attribute.bin");
    for (const TSupportLink& link : links)
      out->WriteUInt16(cipher.Encode(link.attribute));
    out->Flush();
  }
  for (const auto& [fileNumber, values] : options.limits) {
    cipher.Restart();
    auto out = Create(directory, "limit" + std::to_string(fileNumber) + ".bin");
    for (std::size_t k = 0; k < linkCount; ++k) {
      out->WriteByte(cipher.Encode(static_cast<std::uint8_t>(k < values.size() ? values[k] : 0)));
    }
    out->Flush();
  }

  // Configuration with the defaults the import gives.
  std::string prj = options.prj;
  std::string coordSys = options.coordSys;
  std::int32_t epsg = options.epsg;
  if (prj.empty() && options.unit == cuDeg) prj = kWgs84Prj;
  if (epsg == 0 && options.unit == cuDeg) epsg = 4326;
  if (coordSys.empty()) {
    if (options.unit == cuDeg) {
      coordSys = kWgs84CoordSys;
    } else if (const char* unitName = MapInfoUnitName(options.unit)) {
      coordSys = std::string("CoordSys NonEarth Units \"") + unitName + "\" Bounds (" +
                 BoundText(box.xmin) + ", " + BoundText(box.ymin) + ") (" + BoundText(box.xmax) +
                 ", " + BoundText(box.ymax) + ")";
    }
  }
  const double dx = (box.xmax - box.xmin) * 0.0005;
  const double dy = (box.ymax - box.ymin) * 0.0005;
  const TFloatRect widened{box.xmin - dx, box.ymin - dy, box.xmax + dx, box.ymax + dy};
  const std::string dir =
      directory.empty() || directory.back() == '/' ? directory : directory + "/";
  WriteConfig(dir, key != 0, options.unit, widened, result.linkCount, epsg, prj, coordSys);
  if (options.spatialIndex) {
    TQuadTreeSetup setup;
    setup.SetDirectory(dir);
    setup.SetMaxNodesPerCell(options.maxNodesPerCell);
    setup.Build(key);
    if (key != 0) writeLinks(key);
  }
  return result;
}

std::vector<TSupportLink> ParseLinks(const std::string& text) {
  std::vector<TSupportLink> links;
  std::stringstream all(text);
  std::string linkText;
  while (std::getline(all, linkText, ';')) {
    TSupportLink link;
    std::stringstream pointsText(linkText);
    std::string pointText;
    while (std::getline(pointsText, pointText, ',')) {
      std::stringstream xy(pointText);
      TFloatPoint p;
      if (xy >> p.x >> p.y) link.points.push_back(p);
    }
    links.push_back(std::move(link));
  }
  return links;
}

}  // namespace kvnet::test
