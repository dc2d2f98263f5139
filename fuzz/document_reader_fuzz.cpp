#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ab_session.hpp"
#include "compare.hpp"
#include "document_reader.hpp"
#include "expectations.hpp"
#include "export.hpp"
#include "pictures.hpp"
#include "text_format.hpp"

namespace {

// The reference bands the reader accepted, each set against its own entry: the band found must be
// the entry itself (no two share a key), its edges inside it and the rates just past them
// outside; every text and the JSON form made without fault.
void checkBands(const SavedExpectations& expectations) {
  for (const ExpectationEntry& e : expectations.entries) {
    if (!(e.lower > 0 && e.lower <= e.gflops && e.gflops <= e.upper && std::isfinite(e.upper))) {
      __builtin_trap();
    }
    const auto verdict = [&](double gflops) {
      const BandCheck check = checkBand(expectations, e.cpuModel, e.vectorPath, e.n, e.block,
                                        gflops);
      if (!check.band || check.band->lower != e.lower || check.band->upper != e.upper) {
        __builtin_trap();
      }
      bandText(check);
      bandMessage(check, "fuzz", e.cpuModel, e.vectorPath);
      jsonText(bandJson(check));
      return check.verdict;
    };
    if (verdict(e.lower) != BandVerdict::kWithin || verdict(e.upper) != BandVerdict::kWithin ||
        verdict(e.gflops) != BandVerdict::kWithin ||
        verdict(std::nextafter(e.lower, 0.0)) != BandVerdict::kBelow ||
        verdict(std::nextafter(e.upper, INFINITY)) != BandVerdict::kAbove ||
        verdict(NAN) != BandVerdict::kBelow) {
      __builtin_trap();
    }
  }
}

}  // namespace

// Any bytes as a saved document of any kind, or as what a child of lubench-report ab printed:
// the reader must return the records of one kind or problems, never abort, and what it accepts
// as a run's document must go through the comparison, every format and both exports without
// fault, whole or a piece at a time; reference bands through the band check; every other kind's
// picture made, its script holding no backquote (gnuplot would run the text between two).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!(resultLineNanoseconds(std::string(text)) >= 0)) __builtin_trap();
  const DocumentReading reading =
      parseDocumentOf(text, "fuzz`\xff.json",
                      {DocumentKind::kRun, DocumentKind::kAbSession, DocumentKind::kComparison,
                       DocumentKind::kFleet, DocumentKind::kExpectations});
  const int records = reading.document.has_value() + reading.session.has_value() +
                      reading.comparisons.has_value() + reading.fleet.has_value() +
                      reading.expectations.has_value();
  if (records != (reading.problems.empty() ? 1 : 0)) __builtin_trap();
  if (reading.expectations) checkBands(*reading.expectations);
  if (records == 1 && !reading.expectations) {
    Picture picture;
    if (!addDocumentPicture(picture, reading, "fuzz`\xff.json")) __builtin_trap();
    for (const PlotFormat format : {PlotFormat::kSvg, PlotFormat::kPng}) {
      if (picture.script(format).find('`') != std::string::npos) __builtin_trap();
    }
  }
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
