#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ab_session.hpp"
#include "compare.hpp"
#include "document_reader.hpp"
#include "export.hpp"

// Any bytes as a saved document, or as what a child of lubench-report ab printed: the reader
// must return records or problems, never abort, and what it accepts must go through the
// comparison, every format and both exports without fault.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!(resultLineNanoseconds(std::string(text)) >= 0)) __builtin_trap();
  const DocumentReading reading = parseDocument(text, "fuzz\xff.json");
  if (reading.document.has_value() == !reading.problems.empty()) __builtin_trap();
  if (!reading.document) return 0;
  const ComparisonResult result = compareDocuments(*reading.document, *reading.document);
  if (result.comparison) {
    for (const char* format : {"text", "md", "json"}) {
      formatComparisons({*result.comparison}, format);
    }
  }
  for (const char* format : {"gbench", "bmf"}) exportDocument(*reading.document, format);
  return 0;
}
