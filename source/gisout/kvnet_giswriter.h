// The abstract GIS writer. Every result with a geometry leaves the library through a TGISWriter:
// the caller declares the fields and the object kind of a table, then appends one record per
// object (a point, a two-point line, or an object of several sections) with a text of attribute
// values, and closes it. Subclasses turn the stream into a file format or an in-memory table.
//
// Calling order: StartHeader, AddField once per declared field, records, Close (or Drop to remove
// what was written). A record is AddPoint/AddPoint2, AddLine/AddLine2, or AddObject followed by
// exactly its announced number of AddSection* calls.
//
// The attribute text of a record holds all values in field order the way a MapInfo MID line does:
// values separated by commas, text in double quotes with inner quotes doubled, numbers in the
// general number format, dates as YYYYMMDD, date-times as YYYYMMDDhhmmssfff, times as hhmmssfff,
// logical values as text whose first character decides (IsTrueText).
//
// A writer that is destroyed while an exception unwinds the stack, or while an object still waits
// for sections, removes its files instead of completing them; one destroyed normally completes
// its files as Close does. A failing Close removes the files and raises. A writer and the array it
// fills are used by one thread at a time.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_gistypes.h"
#include "foundation/kvnet_types.h"

namespace kvnet {

class TGISArray;

using TFieldInfoArray = std::vector<TFieldInfo>;

// MapInfo styles. Colours are stored as 0x00BBGGRR.
struct TMIBrush {
  std::int32_t pattern = 2;
  std::uint32_t fg_color = 16777215;
  std::uint32_t bg_color = 0;
  friend bool operator==(const TMIBrush&, const TMIBrush&) = default;
};

struct TMIPen {
  std::int32_t Width = 1;
  std::int32_t pattern = 2;
  std::uint32_t Color = 0;
  friend bool operator==(const TMIPen&, const TMIPen&) = default;
};

struct TMISymbol {
  std::int32_t Shape = 33;
  std::uint32_t Color = 0;
  std::int32_t Size = 12;
  friend bool operator==(const TMISymbol&, const TMISymbol&) = default;
};

TMIPen MakePen(std::int32_t width, std::int32_t pattern, std::uint32_t color);
TMIBrush MakeBrush(std::int32_t pattern, std::uint32_t fgColor, std::uint32_t bgColor);

class TGISWriter {
 public:
  TGISWriter();
  virtual ~TGISWriter();
  TGISWriter(const TGISWriter&) = delete;
  TGISWriter& operator=(const TGISWriter&) = delete;

  // The writer of a format. Formats whose writers need a run-time library that is not loaded
  // fall back to MIF. Raises EInvalidParameter for a format this build has no writer for.
  static std::unique_ptr<TGISWriter> GetGISObject(TGISFormat Inp);

  // Settings, used by the formats that understand them.
  TMIBrush Brush;
  std::string CoordSys = kWgs84CoordSys;
  bool CompactMIF = false;  // no style clauses in MIF
  std::int32_t epsg = 4326;
  std::string FileName;        // path without extension; each writer appends its own
  double GreatCircleDist = 0;  // > 0: densify sections along great circles, in kilometres
  TMIPen Pen;
  std::string PRJ = kWgs84Prj;
  TMISymbol Symbol;
  std::int32_t BlockSize = 512;
  TGISArray* GISarray = nullptr;  // target of the array writer
  std::string GeoJSON;            // the GeoJSON text when that writer has no file name

  std::uint16_t Codepage() const { return FCodepage; }
  // Ignores 65001 and 1200 (see AcceptsCodepage); a code page the library does not know raises
  // EEncodingError.
  void SetCodepage(std::uint16_t Value);
  const TFieldInfoArray& FieldInfo() const { return FFieldInfo; }
  // True once a file of the writer has reached its size limit; start a new file then.
  bool FileIsFull() { return GetFileIsFull(); }
  bool GetFileIsFull();
  bool OptimizePLinesSections() const { return FOptimizePLinesSections; }
  // Raises while an object still waits for sections.
  void SetOptimizePLinesSections(bool Value);
  std::int32_t WrittenRecords() const { return FWrittenRecords; }
  TObjectTypes ObjectTypes() const { return FObjectTypes; }

  // Table layout.
  virtual void StartHeader(std::int32_t NumFields, TObjectTypes ObjectTypes);
  virtual void AddField(const std::string& FieldName, TGISField Field, std::uint8_t Width,
                        std::uint8_t decimals);

  // Records.
  virtual void AddPoint(double X, double Y, const std::string& Attrib) = 0;
  void AddPoint2(const TFloatPoint& P, const std::string& Attrib) { AddPoint(P.x, P.y, Attrib); }
  virtual void AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib);
  virtual void AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib);
  virtual void AddObject(std::int32_t NumParts, bool multiPolygon, const std::string& Attrib);
  // The sections of an object. Index 0 is a polyline section or an outer ring; above 0 a hole of
  // the current polygon; in a multi-polygon a value of 0 or below starts a new polygon. AddSection
  // densifies SegList in place when GreatCircleDist is set.
  void AddSection(std::int32_t Index, TFloatPointArrayEx& SegList);
  void AddSection1(std::int32_t Index, const TFloatPointArrayEx2& SegList, bool swapdirection);
  void AddSection2(std::int32_t Index, double X1, double Y1, double X2, double Y2);
  void AddSection3(std::int32_t Index, const TFloatPoint& P1, const TFloatPoint& P2);

  // Completes the output; does nothing when the writer is not open.
  virtual void Close();
  // Closes the writer and removes what it wrote.
  virtual void Drop();

  // A field type for a column of text values: gfInteger when every value is a 32-bit integer
  // that does not start with 0, else gfChar; width becomes the widest value (at least 1).
  TGISField SL2GISField(const std::vector<std::string>& SL, std::int32_t& width) const;

 protected:
  // Begins the next record with NumParts sections; format writers write the record start here.
  virtual void StartObject(std::int32_t NumParts, const std::string& Attrib);
  // Writes one section of the current record; format writers call the base first.
  virtual void WriteSection(std::int32_t Index, const TFloatPointArrayEx& section);
  // Whether SetCodepage takes this code page.
  virtual bool AcceptsCodepage(std::uint16_t Value) const;
  // Removes the files this writer writes (no error when one is missing).
  static void DeleteFiles(const std::string& fileName, std::initializer_list<const char*> exts);

  // Splits an attribute text into FSL. With checkCount, a value count other than FNumFields
  // raises "Number of values must match number of fields. ...".
  void SplitAttributes(std::string_view Attrib, bool checkCount = true);
  // Raises unless StartHeader ran, every field is declared and no object waits for sections.
  void CheckRecordStart() const;
  // Raises while an object still waits for sections.
  void CheckNoPendingObject() const;
  bool ObjectIncomplete() const { return FWrittenParts < FNumParts; }
  // Completes or removes the files when the writer is destroyed; concrete writers call it first
  // thing in their destructors, while their own state still exists.
  void FinishOnDestroy() noexcept;

  void UpdateBounds(double x, double y);
  // Writes the bounds over the 16-character placeholders after each of the four keys in the file
  // FileName + extension.
  void PatchBounds(const std::string& extension, std::string_view keyXMin, std::string_view keyYMin,
                   std::string_view keyXMax, std::string_view keyYMax);
  const TEncoder* Encoding() const { return FEncoding ? &*FEncoding : nullptr; }

  double FXMinG = 0;
  double FYMinG = 0;
  double FXMaxG = 0;
  double FYMaxG = 0;
  std::uint16_t FCodepage = 0;
  TFieldInfoArray FFieldInfo;  // used 1-based: entry i describes field i
  std::int32_t FNumFields = 0;
  std::int32_t FWrittenFields = 0;
  std::int32_t FNumParts = 0;
  std::int32_t FWrittenParts = 0;
  TObjectTypes FObjectTypes = otPline;
  bool FOptimizePLinesSections = false;
  std::vector<std::string> FSL;  // values of the current record: the first FSLCount entries
  std::int32_t FSLCount = 0;
  std::int32_t FWrittenRecords = 0;
  bool Fopen = false;
  bool FmultiPolygon = false;
  std::int32_t NextFileCheck = -1;
  bool fFileIsFull = false;
  bool FFilesCreated = false;  // files of this table exist (Drop removes them)
  bool FBroken = false;        // a record was left half written: the files cannot be completed

 private:
  void StartObjectOptimized(std::int32_t NumParts, const std::string& Attrib);
  void AddSectionOptimized(const TFloatPointArrayEx& section);
  void CheckSection(const TFloatPointArrayEx& SegList) const;
  void Densify(TFloatPointArrayEx& section) const;

  std::optional<TEncoder> FEncoding;
  std::string FAttrib;
  // The section-merging buffer: parts collected for the current object. It keeps its parts and
  // their storage from object to object.
  std::vector<TFloatPointArrayEx> FSegments;
  std::int32_t FFreeIndex = 0;  // parts of FSegments in use for the current object
  std::int32_t FOptimizedParts = 0;
  TFloatPointArrayEx FLine;     // scratch for two-point sections
  TFloatPointArrayEx FSection;  // scratch for AddSection1
  int FUncaughtAtCreate = 0;
};

// Shared helpers of the writers.
std::string DateToISO(std::string_view s);      // YYYYMMDD -> YYYY-MM-DD
std::string DateTimeToISO(std::string_view s);  // YYYYMMDDhhmmssfff -> YYYY-MM-DDThh:mm:ss.fff
std::string TimeToISO(std::string_view s);      // hhmmssfff -> hh:mm:ss.fff
// True when s is not empty and starts with one of "TYty1".
bool IsTrueText(std::string_view s);
// A bound as exactly 16 characters that read back as a number (placeholders in GML and GPX).
std::string FormatBound16(double x);
// A text value for an attribute list: in double quotes, inner quotes doubled.
std::string QuoteAttribute(std::string_view s);

}  // namespace kvnet
