#include <cstddef>
#include <cstdint>
#include <string_view>

#include "compare.hpp"
#include "document_reader.hpp"

// Any bytes as a saved document: the reader must return records or problems, never abort, and
// what it accepts must go through the comparison and every format without fault.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const DocumentReading reading = parseDocument(text, "fuzz\xff.json");
  if (reading.document.has_value() == !reading.problems.empty()) __builtin_trap();
  if (!reading.document) return 0;
  const ComparisonResult result = compareDocuments(*reading.document, *reading.document);
  if (result.comparison) {
    for (const char* format : {"text", "md", "json"}) {
      formatComparisons({*result.comparison}, format);
    }
  }
  return 0;
}
