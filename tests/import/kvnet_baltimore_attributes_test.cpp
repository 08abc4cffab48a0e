// The attribute steps of a full import on the Baltimore layer: the attribute word, two limit
// files, the street names and the text ids, checked link by link against the dBASE table, and
// the same steps from the MapInfo .mid and .dat tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kvnet_inifile.h"
#include "gisin/kvnet_dbffiles.h"
#include "import/kvnet_import.h"
#include "import/kvnet_importattributes.h"
#include "store/kvnet_network.h"
#include "support/kvnet_test_support.h"

namespace kvnet {
namespace {

// The files of the attribute steps.
const char* const kAttributeFiles[] = {"attribute.bin", "limit1.bin", "limit2.bin",
                                       "roadname01.bin", "roadnumber01.bin"};

// Imports the layer's geometry from link.shp, then its attributes from table (a .dbf or .dat
// with fkDBF, or a .mid with fkCSV), as the demo's import does.
void ImportAll(const std::string& data, const std::string& directory, const std::string& table,
               TFileKind kind, std::int64_t key) {
  TImport import;
  import.SetDirectory(directory);
  import.SetEncryptionKey(key);
  import.Add(data + "/link.shp");
  import.Execute();

  TImportAttributes attributes;
  attributes.SetDirectory(directory);
  attributes.SetEncryptionKey(key);
  attributes.Add(table);
  // Fields by name for tables; by position for the .mid (its .mif lists the same columns).
  const bool csv = kind == fkCSV;
  attributes.ExecuteAttribute(0, csv ? "" : "attribute4", kind);
  attributes.ExecuteLimit(1, csv ? "" : "max_weight", kind, 0, 1);
  attributes.SetLimitFileIndex(2);
  attributes.ExecuteLimit(2, csv ? "" : "bridges", kind, 0, 1);
  attributes.ExecuteRoadname(3, "streetname", kind);
  attributes.ExecuteExternalIDstring(4, csv ? "" : "ext_id", kind);
}

class BaltimoreAttributes : public ::testing::Test {
 protected:
  void SetUp() override {
    data = test::DataSetPath("baltimore");
    if (data.empty()) GTEST_SKIP() << "real data set 'baltimore' not found; this test needs it";
  }
  std::string data;
};

TEST_F(BaltimoreAttributes, EveryLinkCarriesItsRecord) {
  for (const std::int64_t key : {std::int64_t{0}, std::int64_t{20261210}}) {
    SCOPED_TRACE(key);
    const test::TTempDir dir;
    ImportAll(data, dir.Path().string(), data + "/link.dbf", fkDBF, key);
    TNetwork net;
    net.SetDirectory(dir.Path().string());
    net.SetEncryptionKey(key);
    net.Open(true, true, false, 1);
    net.OpenRoadName(1, key == 0);  // cached once, read from the file once
    net.OpenLimit(1, 1, false);
    net.OpenLimit(2, 2, false);

    TDbfFile table(data + "/link.dbf", 0);
    table.Open(false);
    const std::int32_t attribute = table.FindField("attribute4");
    const std::int32_t weight = table.FindField("max_weight");
    const std::int32_t bridges = table.FindField("bridges");
    const std::int32_t name = table.FindField("streetname");
    const std::int32_t id = table.FindField("ext_id");
    ASSERT_EQ(net.LinkCount(), table.RecordCount());
    for (std::int32_t l = 1; l <= net.LinkCount(); ++l) {
      SCOPED_TRACE(l);
      if (net.LinkLength(l) != 0) {  // loop links are refused by the import: no word to read
        EXPECT_EQ(net.AttributeGet(l), table.ReadInteger(attribute, l));
        EXPECT_EQ(net.GetLimit(1, l), table.ReadInteger(weight, l));
        EXPECT_EQ(net.GetLimit(2, l), table.ReadInteger(bridges, l));
      }
      EXPECT_EQ(net.Link2RoadName(1, l), Trim(table.ReadString(name, l)));
      const std::string ext = Trim(table.ReadString(id, l));
      EXPECT_EQ(net.Link2ExternalID(l), ext);
      EXPECT_EQ(net.ExternalID2Link(ext), l);
    }
    EXPECT_EQ(net.ExternalID2Link("28430400_1"), 3335);
    EXPECT_EQ(net.ExternalID2Link("121787399_1"), 6987);
    EXPECT_EQ(net.ExternalID2Link("no such id"), 0);
  }
}

TEST_F(BaltimoreAttributes, MapInfoTablesGiveTheSameFiles) {
  const test::TTempDir dbf;
  const test::TTempDir mid;
  const test::TTempDir dat;
  ImportAll(data, dbf.Path().string(), data + "/link.dbf", fkDBF, 0);
  ImportAll(data, mid.Path().string(), data + "/mif/link.mid", fkCSV, 0);
  ImportAll(data, dat.Path().string(), data + "/tab/link.dat", fkDBF, 0);
  for (const char* file : kAttributeFiles) {
    const std::string expected = test::ReadFileBytes(dbf.File(file));
    EXPECT_TRUE(test::ReadFileBytes(mid.File(file)) == expected) << "MID " << file;
    EXPECT_TRUE(test::ReadFileBytes(dat.File(file)) == expected) << "DAT " << file;
  }
  // Both tables declare ext_id 20 characters wide; the .mid's width is its longest id, so its
  // index differs in width only and finds the same links.
  for (const char* file : {"index1.bin", "index2.bin"}) {
    EXPECT_TRUE(test::ReadFileBytes(dat.File(file)) == test::ReadFileBytes(dbf.File(file))) << file;
  }
  TNetwork a;
  TNetwork b;
  for (auto [net, dir] : {std::pair{&a, &dbf}, std::pair{&b, &mid}}) {
    net->SetDirectory(dir->Path().string());
    net->Open(true, true, false, 1);
  }
  for (std::int32_t l = 1; l <= a.LinkCount(); ++l) {
    EXPECT_EQ(b.Link2ExternalID(l), a.Link2ExternalID(l)) << l;
    EXPECT_EQ(b.ExternalID2Link(a.Link2ExternalID(l)), l) << l;
  }
}

}  // namespace
}  // namespace kvnet
