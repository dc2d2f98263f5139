#include "reporter.hpp"

#include "simd.hpp"

std::string vectorPathDescription() {
  return std::string(kVectorPathName) + " (" + std::to_string(kDoubleLanes) +
         " doubles per vector)";
}

std::string compilerDescription() {
#if defined(__clang__)
  return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
  return std::string("GCC ") + __VERSION__;
#else
  return "unknown compiler";
#endif
}

std::string formatted(const std::function<void(const TextSink&)>& writing) {
  std::string text;
  writing([&](std::string_view piece) { text += piece; });
  return text;
}
