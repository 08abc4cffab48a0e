// Text writers: the MapInfo interchange pair (.mif with header and geometry, .mid with one
// attribute line per object), the same fixed to UTF-8, and CSV (attributes only). The attribute
// text of a record already is a MID line, so the .mid and .csv files receive it unchanged.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/kvnet_textfile.h"
#include "gisout/kvnet_giswriter.h"

namespace kvnet {

class TGISWriterMIF : public TGISWriter {
 public:
  TGISWriterMIF() = default;
  ~TGISWriterMIF() override;

  void AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                std::uint8_t decimals) override;
  void StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) override;
  void AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) override;
  void AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) override;
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  void Drop() override;

 protected:
  void StartObject(std::int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(std::int32_t Index, const TFloatPointArrayEx& section) override;

 private:
  void OpenFiles();
  void WriteLineObject(double X1, double Y1, double X2, double Y2);
  void WritePenClause();
  // Whether the geometry of an object goes to the .mif (a point or an attribute-only table
  // records objects as "None").
  bool ObjectsHaveGeometry() const { return FObjectTypes == otPline || FObjectTypes == otRegion; }
  void ReleaseFiles() noexcept;

  std::int32_t fVersion = 300;
  std::vector<std::string> fields;  // column lines, in declaration order
  std::unique_ptr<TTextFileWriter> FOutMIF;
  std::unique_ptr<TTextFileWriter> FOutMID;
  std::string FScratch;
};

// The MIF writer fixed to code page 65001.
class TGISWriterMIF8 : public TGISWriterMIF {
 public:
  TGISWriterMIF8();

 protected:
  bool AcceptsCodepage(std::uint16_t Value) const override;
};

class TGISWriterCSV : public TGISWriter {
 public:
  TGISWriterCSV() = default;
  ~TGISWriterCSV() override;

  void StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) override;
  void AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                std::uint8_t decimals) override;
  void AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) override;
  void AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) override;
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  void Drop() override;

 protected:
  void StartObject(std::int32_t NumParts, const std::string& Attrib) override;

 private:
  void WriteRecord(const std::string& Attrib);

  std::unique_ptr<TTextFileWriter> FOutCSV;
};

// The colour of a style clause: the stored 0x00BBGGRR value as 0xRRGGBB.
std::uint32_t SwapRedBlue(std::uint32_t color);

}  // namespace kvnet
