// The two process-wide code-page tables of the GIS formats: the character-set table, which names
// a code page in MIF and TAB headers and numbers it for the MapInfo libraries, and the list of
// code pages a dBASE table can be written in. Both are built once on first use and never change;
// any thread may read them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/kvnet_baselist.h"

namespace kvnet {

struct TCharSet {
  std::uint16_t codepage = 0;
  std::uint8_t ID = 0;    // character-set number of the MapInfo libraries
  std::string charset;    // character-set name of MIF and TAB headers
  bool EFALonly = false;  // understood only by the EFAL library
};

class TCharSetList : public TBaseList<TCharSet> {
 public:
  // The name of the first row with this code page; empty when there is none.
  std::string CodePage2Charset(std::uint16_t codepage) const;
  // The ID of the first row with this code page; 0 when there is none.
  std::uint8_t CodePage2ID(std::uint16_t codepage) const;
  // The code page of the first row whose name equals charset, ignoring case; 0 when none.
  std::uint16_t Charset2CodePage(std::string_view charset) const;
};

class TCodePageDBFList : public TBaseList<std::uint16_t> {};

// The shared instances.
const TCharSetList& CharSetList();
const TCodePageDBFList& CodePageDBFList();

}  // namespace kvnet
