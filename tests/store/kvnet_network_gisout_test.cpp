#include <gtest/gtest.h>

#include "gisout/kvnet_giswriter.h"
#include "gisout/kvnet_giswriterarray.h"
#include "gisout/kvnet_giswritermif.h"
#include "gisout/kvnet_giswritershp.h"
#include "store/kvnet_network.h"
#include "support/kvnet_test_networks.h"

namespace kvnet {
namespace {

TEST(NetworkGISOutput, WritersTakeTheNetworksSettings) {
  const test::TNetworkDir dir(test::SampleLinks());
  TNetwork net;
  net.SetDirectory(dir.Path());
  net.Open(true, true, false, 0);
  net.SetCompactMIF(true);
  net.SetCoordsys("CoordSys Earth Projection 8, 104, \"m\", 9, 0, 0.9996, 500000, 0");
  net.SetEPSG(32618);
  net.SetPRJ("PROJCS[\"x\"]");
  net.SetCodepage(1250);

  const auto shp = net.GISoutputInit("/tmp/out", gfSHP);
  ASSERT_NE(dynamic_cast<TGISWriterSHP*>(shp.get()), nullptr);
  EXPECT_TRUE(shp->CompactMIF);
  EXPECT_EQ(shp->CoordSys, net.Coordsys());
  EXPECT_EQ(shp->epsg, 32618);
  EXPECT_EQ(shp->PRJ, "PROJCS[\"x\"]");
  EXPECT_EQ(shp->FileName, "/tmp/out");
  EXPECT_EQ(shp->Codepage(), 1250);

  const auto mif8 = net.GISoutputInit("/tmp/out", gfMIF8);
  EXPECT_EQ(mif8->Codepage(), 65001);  // fixed to UTF-8
  EXPECT_EQ(mif8->epsg, 32618);

  // The array writer takes nothing from the network; callers point it at their array.
  const auto array = net.GISoutputInit("/tmp/out", gfArray);
  ASSERT_NE(dynamic_cast<TGISWriterArray*>(array.get()), nullptr);
  EXPECT_EQ(array->epsg, 4326);
  EXPECT_TRUE(array->FileName.empty());
  array->GISarray = &net.GISarray();
  array->StartHeader(1, otPoint);
  array->AddField("N", gfInteger, 0, 0);
  array->AddPoint(1, 2, "7");
  array->Close();
  EXPECT_EQ(net.GISarray().RecCount, 1);
  EXPECT_EQ(net.GISarray().EPSG, 4326);
}

}  // namespace
}  // namespace kvnet
