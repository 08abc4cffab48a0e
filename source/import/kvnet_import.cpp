#include "import/kvnet_import.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <system_error>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "foundation/kvnet_io.h"
#include "import/kvnet_importreaders.h"
#include "store/kvnet_encryption.h"

namespace kvnet {

namespace {

// The 4-byte float 1e38 widened to double: the start of a running minimum.
const double kBoundStart = static_cast<double>(1e38f);

// Vertex kinds of WriteVertex.
constexpr int kFromVertex = 0;
constexpr int kInnerVertex = 1;
constexpr int kToVertex = 2;

}  // namespace

std::string CompanionFile(const std::string& base, const std::string& ext) {
  std::error_code ec;
  if (std::filesystem::exists(base + ext, ec)) return base + ext;
  std::string other = ext;
  const bool lower = std::any_of(
      ext.begin(), ext.end(), [](char c) { return std::islower(static_cast<unsigned char>(c)); });
  for (char& c : other) {
    c = static_cast<char>(lower ? std::toupper(static_cast<unsigned char>(c))
                                : std::tolower(static_cast<unsigned char>(c)));
  }
  if (std::filesystem::exists(base + other, ec)) return base + other;
  return base + ext;
}

TBaseImport::TBaseImport() = default;
TBaseImport::~TBaseImport() = default;

void TBaseImport::AddFiles(const std::vector<std::string>& files) {
  fFiles.insert(fFiles.end(), files.begin(), files.end());
}

void TBaseImport::SetInputUnit(TCoordinateUnit unit) {
  fCoordinateUnit = unit;
  fZRadius = 0.0001 / DistFactor(unit);  // raises for cuUnknown
}

void TBaseImport::SetZLevels(std::int64_t from, std::int64_t to) {
  if (from < -9 || from > 9 || to < -9 || to > 9) {
    throw EOutOfRange("Z-levels of out range (-9..9)");
  }
  fZFrom = static_cast<std::int32_t>(from);
  fZTo = static_cast<std::int32_t>(to);
  fZLevelsUsed = true;
}

void TBaseImport::OpenOutput() {
  fStartTime = TClock::now();
  const auto create = [this](const char* name) {
    return std::make_unique<TKVBufferedStream>(
        std::make_unique<TKVFileStream>(OutFile(name), fmCreate));
  };
  fg1 = create("coordfrom.bin");
  fg2 = create("coordto.bin");
  fg3 = create("coord3.bin");
  fg3i = create("coord3i.bin");
  fCoord3Count = 0;
  fMBR = TFloatRect{kBoundStart, kBoundStart, -kBoundStart, -kBoundStart};
  fImportErrorList.clear();
  ProgressExecuteZero();
  fLinkCount = 0;
  fLinkCountFile = 0;
  fZFrom = 0;
  fZTo = 0;
  fZLevelsUsed = false;
  fEncoder2 = std::make_unique<T32EncryptionArray>(fEncryptionKey);
  fObjects_found = false;
}

void TBaseImport::CloseOutput() {
  for (auto* stream : {&fg1, &fg2, &fg3, &fg3i}) {
    if (*stream) (*stream)->Flush();
    stream->reset();
  }
}

void TBaseImport::MarkLinkStart() {
  fg3i->WriteInt32(static_cast<std::int32_t>(fCoord3Count));
}

void TBaseImport::WriteVertex(const TFloatPoint& vertex, int kind) {
  TFloatPoint p = vertex;
  const auto outside = [&](double xLimit, double yLimit) {
    return !(p.x >= -xLimit && p.x <= xLimit && p.y >= -yLimit && p.y <= yLimit);
  };
  bool invalid = !std::isfinite(p.x) || !std::isfinite(p.y);
  switch (fCoordinateUnit) {
    case cuDeg:
      invalid = invalid || outside(180, 90);
      break;
    case cuRad:
      invalid = invalid || outside(std::numbers::pi, std::numbers::pi / 2);
      break;
    case cuGrad:
      invalid = invalid || outside(200, 100);
      break;
    default:
      break;
  }
  if (invalid) {
    throw Exception("Coordinates (" + FormatGeneral(p.x) + "," + FormatGeneral(p.y) +
                    ") not valid for chosen coordinate unit");
  }
  // Ends on other levels move 10 cm in their own direction, 20 degrees apart per level.
  const std::int32_t level = kind == kFromVertex ? fZFrom : (kind == kToVertex ? fZTo : 0);
  if (level != 0) {
    const double angle = level * std::numbers::pi / 9;
    p.x += std::sin(angle) * fZRadius;
    p.y += std::cos(angle) * fZRadius;
  }
  fMBR.xmin = std::min(fMBR.xmin, p.x);
  fMBR.ymin = std::min(fMBR.ymin, p.y);
  fMBR.xmax = std::max(fMBR.xmax, p.x);
  fMBR.ymax = std::max(fMBR.ymax, p.y);
  if (kind == kFromVertex) {
    fg1->WriteDouble(p.x);
    fg1->WriteDouble(p.y);
  } else if (kind == kToVertex) {
    fg2->WriteDouble(p.x);
    fg2->WriteDouble(p.y);
  } else {
    const std::int64_t position = 2 * fCoord3Count;  // in 8-byte values
    fg3->WriteInt64(fEncoder2->Encode(p.x, position));
    fg3->WriteInt64(fEncoder2->Encode(p.y, position + 1));
    ++fCoord3Count;
  }
  fObjects_found = true;
}

void TBaseImport::StoreLink(std::int32_t fileIndex) {
  if (fNumPoints < 0 || static_cast<std::size_t>(fNumPoints) > fVertices.size()) {
    throw EInvalidParameter(Format("Invalid vertex count %d", fNumPoints));
  }
  // Repeated vertices go first, so the loop and vertex-count checks see the cleaned line.
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < fNumPoints; ++i) {
    const TFloatPoint& v = fVertices[static_cast<std::size_t>(i)];
    if (count > 0 && v == fVertices[static_cast<std::size_t>(count) - 1]) continue;
    fVertices[static_cast<std::size_t>(count++)] = v;
  }
  fNumPoints = count;
  if (count < 2) {
    AddImportError(fileIndex, fLinkCountFile, count, ecZeroOrOneVertices, fLinkCount);
    return;
  }
  if (!fAllowLoops && fVertices[0] == fVertices[static_cast<std::size_t>(count) - 1] &&
      fZFrom == fZTo) {
    AddImportError(fileIndex, fLinkCountFile, 0, ecLoopLink, fLinkCount);
    return;
  }
  WriteVertex(fVertices[0], kFromVertex);
  for (std::int32_t i = 1; i + 1 < count; ++i)
    WriteVertex(fVertices[static_cast<std::size_t>(i)], kInnerVertex);
  WriteVertex(fVertices[static_cast<std::size_t>(count) - 1], kToVertex);
}

void TBaseImport::AddImportError(std::int32_t fileIndex, std::int32_t linklocal, std::int32_t value,
                                 TErrorCode errorcode, std::int32_t link) {
  fg1->WriteDouble(0);
  fg1->WriteDouble(0);
  fg2->WriteDouble(0);
  fg2->WriteDouble(0);
  fImportErrorList.push_back(TImportError{fileIndex, linklocal, link, errorcode, value});
}

}  // namespace kvnet
