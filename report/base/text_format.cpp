#include "text_format.hpp"

#include <cstdarg>
#include <cstdio>

std::string formatText(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string out;
  if (length > 0) {
    out.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<std::size_t>(length));
  }
  va_end(again);
  return out;
}

namespace {

// The length of the valid UTF-8 sequence starting at text[i], or 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char first = byte(i);
  if (first < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    if (first == 0xE0) low = 0xA0;   // no overlong forms
    if (first == 0xED) high = 0x9F;  // no surrogates
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8SequenceLength(text, i);
    if (c == '\\') {
      out += "\\\\";
    } else if (length == 0 || c < 0x20 || c == 0x7F ||
               (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
      // Invalid bytes, C0 and C1 controls (U+0080 to U+009F) and DEL.
      out += formatText("\\x%02X", c);
    } else {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    ++i;
  }
  return out;
}

std::string jsonText(const nlohmann::ordered_json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string jsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string markdownCell(std::string_view text) {
  std::string out;
  for (const char c : printable(text)) {
    if (c == '|') out += '\\';
    out += c;
  }
  return out;
}
