#include "gisout/kvnet_giswriter.h"
#include "gisout/kvnet_giswriterarray.h"
#include "store/kvnet_network.h"

namespace kvnet {

std::unique_ptr<TGISWriter> TNetwork::GISoutputInit(const std::string& filename,
                                                    TGISFormat GF) const {
  if (GF == gfArray) return std::make_unique<TGISWriterArray>();
  std::unique_ptr<TGISWriter> writer = TGISWriter::GetGISObject(GF);
  writer->CompactMIF = FcompactMIF;
  writer->CoordSys = Fcoordsys;
  writer->epsg = Fepsg;
  writer->PRJ = Fprj;
  writer->FileName = filename;
  switch (GF) {
    case gfGML2:
    case gfKML2:
    case gfGeoJSON:
    case gfMIF8:
    case gfGPX:
      break;
    default:
      writer->SetCodepage(FCodepage);
  }
  return writer;
}

}  // namespace kvnet
