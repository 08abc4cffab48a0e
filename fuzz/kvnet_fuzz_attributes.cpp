// The attribute import from a damaged table. A valid network of four links is written once; the
// input is a CSV text, a .mid with its .mif (two parts), or a .dbf (first byte 0x03 or 0x30),
// and every attribute step runs on it, followed by opening what was written.
#include "foundation/kvnet_exceptions.h"
#include "import/kvnet_importattributes.h"
#include "kvnet_fuzz_support.h"
#include "store/kvnet_network.h"
#include "support/kvnet_network_writer.h"

namespace {

const std::filesystem::path& Template() {
  static const std::filesystem::path folder = [] {
    using namespace kvnet;
    const auto path = fuzz::TemplateFolder();
    test::WriteNetwork(path.string(),
                       test::ParseLinks("0 0, 100 0; 100 0, 200 0; 200 0, 200 100; 0 0, 200 100"));
    return path;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvnet;
  const auto& source = Template();
  fuzz::CopyTemplate(source);
  const auto parts = fuzz::SplitParts(data, size);
  std::string table;
  TFileKind kind = fkCSV;
  if (parts.size() >= 2) {
    table = fuzz::WriteFile("t.mid", parts[0]);
    fuzz::WriteFile("t.mif", parts[1]);
  } else if (size > 0 && (data[0] == 0x03 || data[0] == 0x30)) {
    table = fuzz::WriteFile("t.dbf", parts[0]);
    kind = fkDBF;
  } else {
    table = fuzz::WriteFile("t.csv", parts[0]);
  }
  const std::string directory = fuzz::Folder().string();
  const auto step = [&](const auto& run) {
    try {
      TImportAttributes attributes;
      attributes.SetDirectory(directory);
      attributes.Add(table);
      run(attributes);
    } catch (const Exception&) {
    }
  };
  step([&](TImportAttributes& a) { a.ExecuteAttribute(0, "", kind); });
  step([&](TImportAttributes& a) { a.ExecuteLimit(1, "", kind, 0, 1); });
  step([&](TImportAttributes& a) { a.ExecuteLimit(1, "", kind, 0.5, 10); });
  step([&](TImportAttributes& a) { a.ExecuteRoadname(2, "", kind); });
  step([&](TImportAttributes& a) { a.ExecuteExternalIDint(3, "", kind, true); });
  step([&](TImportAttributes& a) { a.ExecuteExternalIDstring(2, "", kind); });
  try {
    TNetwork net;
    net.SetDirectory(directory);
    net.Open(true, true, false, 3);
    net.OpenLimit(1, 1, false);
    net.OpenRoadName(1, false);
    for (std::int32_t link = 1; link <= net.LinkCount(); ++link) {
      net.AttributeGet(link);
      net.GetLimit(1, link);
      net.Link2RoadName(1, link);
      net.ExternalID2Link(net.Link2ExternalID(link));
    }
  } catch (const Exception&) {
  }
  return 0;
}
