#include "reporter.hpp"


std::string formatted(const std::function<void(const TextSink&)>& writing) {
  std::string text;
  writing([&](std::string_view piece) { text += piece; });
  return text;
}
