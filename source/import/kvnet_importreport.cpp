// network_report.txt: what an import read, which objects it refused and what it built.
#include <cmath>
#include <ctime>
#include <filesystem>

#include "foundation/kvnet_format.h"
#include "foundation/kvnet_textfile.h"
#include "import/kvnet_import.h"

namespace kvnet {

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// dd-mmm-yyyy hh:mm:ss in local time.
std::string ReportTime(TBaseImport::TClock::time_point t) {
  const std::time_t seconds = TBaseImport::TClock::to_time_t(t);
  std::tm local{};
  localtime_r(&seconds, &local);
  return Format("%.2d-%s-%.4d %.2d:%.2d:%.2d", local.tm_mday, kMonths[local.tm_mon],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

// Kilometres with 3 decimals after rounding to 10 significant digits; '.' as separator.
std::string Kilometres(double km) {
  if (!std::isfinite(km)) return FormatGeneral(km);
  if (std::fabs(km) >= 1e10) return FormatGeneral(km, 10);
  const double magnitude = std::fabs(km) >= 1 ? std::floor(std::log10(std::fabs(km))) + 1 : 1;
  const double scale = std::pow(10.0, 10 - magnitude);
  return FormatFixed(std::round(km * scale) / scale, 3);
}

std::string ErrorReason(const TImportError& e) {
  switch (e.errorcode) {
    case ecDeleted:
      return " is deleted";
    case ecNotGeoCoded:
      return " is not geocoded";
    case ecNotPolyLine:
      return e.value == 0 ? std::string(" is not a (poly)line")
                          : " is not a (poly)line, but type " + std::to_string(e.value);
    case ecMultiSection:
      return " has " + std::to_string(e.value) + " sections";
    case ecZeroOrOneVertices:
      return " has only " + std::to_string(e.value) + " vertices";
    case ecLoopLink:
      return " is a loop link";
    case ecTooManyVertices:
      return " has " + std::to_string(e.value) + " vertices (max 65535)";
    case ecInvalidGeography:
      return " has invalid geography (MS SQL)";
    case ecSinglePoint:
      return " is a single point";
  }
  return "";
}

const char* SourceLine(TImportSource source) {
  static const char* const kLines[] = {"",
                                       "Input: MS SQL Server",
                                       "Input: MS SQL Server with z-levels",
                                       "Input: Oracle",
                                       "Input: Oracle with z-levels",
                                       "Input: PostGIS",
                                       "Input: PostGIS with z-levels",
                                       "Input: GeoPackage",
                                       "Input: GeoPackage with z-levels",
                                       "Input: Custom data",
                                       "Input: Custom data with z-levels",
                                       "Input: GISarray"};
  return source <= isGISArray ? kLines[source] : "";
}

// The library and the compiler it was built with.
const char* const kLibraryBuild = "4.44 (C++20, g++ " __VERSION__ ")";

}  // namespace

void TBaseImport::CreateReport() const {
  CheckDirectory();
  TTextFileWriter out(fDirectory + "network_report.txt", 1252, false);
  const std::string stars(45, '*');
  out.writeln(stars);
  out.writeln("");
  out.writeln("Report for creation of network with KV Net 4.44");
  out.writeln(std::string("Library version: ") + kLibraryBuild);
  out.writeln("Internal version date: 2023-08-28");
  out.writeln("");
  out.writeln("Start: " + ReportTime(fStartTime));
  out.writeln("");
  out.writeln(stars);
  out.writeln("");
  out.writeln("Coordinate unit: " + CoordinateUnitName(fCoordinateUnit) + " (" +
              std::to_string(static_cast<int>(fCoordinateUnit)) + ")");
  out.writeln("");
  if (fImportSource == isFiles) {
    out.writeln("Input files:");
    for (const std::string& file : fFiles) {
      std::error_code ec;
      const std::filesystem::path full = std::filesystem::absolute(file, ec);
      out.writeln(ec ? file : full.string());
    }
    out.writeln("");
    out.writeln(fZLevelsUsed ? Format("Z-level information extracted from field %d and %d",
                                      fZfromField, fZtoField)
                             : std::string("No Z-level modification"));
  } else {
    out.writeln(SourceLine(fImportSource));
  }
  out.writeln("");
  out.writeln(fAllowLoops ? "Loop links were allowed" : "Loop links were not allowed");
  if (fSkipSpatialIndex) out.writeln("Spatial index not created");
  out.writeln("");
  out.writeln("Coordinate system(s):");
  if (!fCoordSys.empty()) out.writeln(fCoordSys);
  if (!fPrj.empty()) out.writeln("PRJ: " + fPrj);
  if (fEPSG != 0) out.writeln("EPSG: " + std::to_string(fEPSG));
  out.writeln("");
  out.writeln("+++ Error-report +++");
  for (const TImportError& e : fImportErrorList) {
    out.writeln(Format("(%d) Object %d", static_cast<int>(e.errorcode), e.link) + ErrorReason(e));
  }
  out.writeln("+++ Error-report +++");
  out.writeln("");
  out.writeln("Maximum degree: " + std::to_string(fMaxdegree));
  out.writeln("");
  out.writeln("Total length of streets: " + Kilometres(fTotalLength) + " km");
  out.writeln("Average per link:        " +
              Kilometres(fLinkCount > 0 ? fTotalLength / fLinkCount : 0) + " km");
  out.writeln("");
  out.writeln("Links in database: " + std::to_string(fLinkCount));
  out.writeln("Nodes created: " + std::to_string(fNodeCount));
  out.writeln("");
  out.writeln("End: " + ReportTime(fStopTime));
  out.Close();
}

}  // namespace kvnet
