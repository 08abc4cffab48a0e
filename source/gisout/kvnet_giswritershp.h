// dBASE III tables and ESRI shape file sets. TGISWriterDBF writes each record's values as a
// dBASE row; TGISWriterSHP adds the geometry (.shp and .shx) with a .prj and a .cpg beside the
// .dbf. Rings and parts are written in the order and orientation given.
#pragma once

#include <memory>
#include <string>

#include "foundation/kvnet_io.h"
#include "gisout/kvnet_giswriter.h"

namespace kvnet {

class TGISWriterDBF : public TGISWriter {
 public:
  TGISWriterDBF() = default;
  ~TGISWriterDBF() override;

  void StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) override;
  // Adjusts width and decimals to the dBASE type (stored back into FieldInfo). Raises when the
  // record would exceed 65535 bytes.
  void AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                std::uint8_t decimals) override;
  // A row, whatever the table kind.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  void Drop() override;

  // Files grow up to this many bytes before FileIsFull turns true.
  static constexpr std::int64_t kFileLimit = 2'147'000'000;

 protected:
  void StartObject(std::int32_t NumParts, const std::string& Attrib) override;
  // Formats the values of Attrib into the row buffer; raises (writing nothing) when a value does
  // not fit its field's type.
  void PrepareRow(const std::string& Attrib);
  // Appends the prepared row.
  void WriteRow();
  // Completes the .dbf; on failure removes it and raises.
  void CloseDbf();
  void ReleaseDbf() noexcept { FOutDBF.reset(); }

  std::uint32_t FNumRec = 0;  // rows written

 private:
  void WriteHeader();

  std::unique_ptr<TKVBufferedStream> FOutDBF;
  std::uint16_t FTotalWidth = 1;  // row length including the deletion flag
  std::string FRow;
  std::string FNumber;  // scratch for number texts
};

class TGISWriterSHP : public TGISWriterDBF {
 public:
  TGISWriterSHP() = default;
  ~TGISWriterSHP() override;

  void StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) override;
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  void Drop() override;

 protected:
  void StartObject(std::int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(std::int32_t Index, const TFloatPointArrayEx& section) override;

 private:
  std::int32_t ShapeType() const;
  void FinishRecord();
  void ReleaseShapes() noexcept;

  std::uint32_t FContentLength = 0;  // bytes of the current record's content
  std::uint32_t FNumPoints = 0;
  std::unique_ptr<TKVBufferedStream> FOutSHP;
  std::unique_ptr<TKVBufferedStream> FOutSHX;
  std::int64_t FSHPOffset = 100;  // byte offset of the current record
  bool FSHPopen = false;
  double FXMinO = 0;
  double FYMinO = 0;
  double FXMaxO = 0;
  double FYMaxO = 0;
  std::string FRecord;  // the current record, written when its last section arrives
  std::string FIndexEntry;
  TFloatPointArrayEx FPoint;
};

}  // namespace kvnet
