// The array writer: fills a TGISArray in memory instead of writing a file. It creates an array of
// its own; a caller that wants the rows in its own array assigns it to GISarray before
// StartHeader, and that array stays the caller's.
#pragma once

#include <memory>

#include "gisout/kvnet_gisarray.h"
#include "gisout/kvnet_giswriter.h"

namespace kvnet {

class TGISWriterArray : public TGISWriter {
 public:
  TGISWriterArray();
  ~TGISWriterArray() override;

  void StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes) override;
  void AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                std::uint8_t decimals) override;
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  // Closes and clears the array.
  void Drop() override;

 protected:
  void StartObject(std::int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(std::int32_t Index, const TFloatPointArrayEx& section) override;

 private:
  TGISArray& Target() const;
  // Appends a record holding the converted values of Attrib; nothing changes when a value
  // cannot be converted.
  TRec& NewRecord(const std::string& Attrib);
  void Widen(const TFloatPoint& p);

  std::unique_ptr<TGISArray> FOwnArray;
  std::int32_t Fpartsindex = -1;
};

}  // namespace kvnet
