#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ab_session.hpp"
#include "compare.hpp"
#include "document_reader.hpp"
#include "export.hpp"
#include "pictures.hpp"

// Any bytes as a saved document of any kind, or as what a child of lubench-report ab printed:
// the reader must return records or problems, never abort; what it accepts must go through the
// comparison, every format and both exports without fault, whole or a piece at a time, and its
// picture's script must hold no backquote (gnuplot would run the text between two).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!(resultLineNanoseconds(std::string(text)) >= 0)) __builtin_trap();
  const DocumentReading any =
      parseDocumentOf(text, "fuzz`\xff.json",
                      {DocumentKind::kRun, DocumentKind::kAbSession, DocumentKind::kComparison,
                       DocumentKind::kFleet});
  const int records = any.document.has_value() + any.session.has_value() +
                      any.comparisons.has_value() + any.fleet.has_value();
  if (records != (any.problems.empty() ? 1 : 0)) __builtin_trap();
  if (records == 1) {
    Picture picture;
    if (!addDocumentPicture(picture, any, "fuzz`\xff.json")) __builtin_trap();
    for (const PlotFormat format : {PlotFormat::kSvg, PlotFormat::kPng}) {
      if (picture.script(format).find('`') != std::string::npos) __builtin_trap();
    }
  }
  const DocumentReading reading = parseDocument(text, "fuzz\xff.json");
  if (reading.document.has_value() == !reading.problems.empty()) __builtin_trap();
  if (!reading.document) return 0;
  const ComparisonResult result = compareDocuments(*reading.document, *reading.document);
  if (result.comparison) {
    for (const char* format : {"text", "md", "json"}) {
      formatComparisons({*result.comparison}, format);
    }
  }
  for (const char* format : {"gbench", "bmf"}) {
    const std::string whole = exportDocument(*reading.document, format);
    // Written a piece at a time, the export is the same text; an output that fails stops it.
    std::string pieces;
    const bool written = writeExport(*reading.document, format, [&](std::string_view piece) {
      pieces.append(piece);
      return true;
    });
    if (!written || pieces != whole) __builtin_trap();
    if (writeExport(*reading.document, format, [](std::string_view) { return false; })) {
      __builtin_trap();
    }
  }
  return 0;
}
