// dBASE and MapInfo native tables: the input is a .dbf, or a .dat with its .tab when it holds two
// parts. Every field of the first records is read in every form, and a string is written back.
#include "foundation/kvnet_exceptions.h"
#include "gisin/kvnet_dbffiles.h"
#include "kvnet_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvnet;
  fuzz::ClearFolder();
  const auto parts = fuzz::SplitParts(data, size);
  std::string table;
  if (parts.size() >= 2) {
    table = fuzz::WriteFile("t.dat", parts[0]);
    fuzz::WriteFile("t.tab", parts[1]);
  } else {
    table = fuzz::WriteFile("t.dbf", parts[0]);
  }
  try {
    TDbfFile dbf(table, 0);
    dbf.Open(true);
    const std::int64_t records = std::min<std::int64_t>(dbf.RecordCount(), 64);
    for (std::int64_t r = 0; r <= records + 1; ++r) {
      dbf.IsDeleted(r);
      for (std::int32_t f = -1; f <= dbf.FieldCount(); ++f) {
        dbf.FieldInfo(f);
        for (int form = 0; form < 4; ++form) {
          try {
            switch (form) {
              case 0:
                dbf.ReadString(f, r);
                break;
              case 1:
                dbf.ReadInteger(f, r);
                break;
              case 2:
                dbf.ReadFloat(f, r);
                break;
              default:
                dbf.ReadBoolean(f, r);
                break;
            }
          } catch (const Exception&) {
          }
        }
      }
    }
    if (dbf.FieldCount() > 0 && dbf.RecordCount() > 0) {
      dbf.WriteString(0, 1, "x\xc3\xa9");
      dbf.WriteFloat(dbf.FieldCount() - 1, dbf.RecordCount(), 12.5);
    }
    dbf.Close();
  } catch (const Exception&) {
  }
  return 0;
}
