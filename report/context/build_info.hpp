#pragma once

#include <optional>
#include <string>
#include <vector>

// What this build of lubench is: version and commit, build type, compiler and flags, the
// instruction sets the compiler was allowed to use, and the vector path chosen from them.
struct BuildInfo {
  std::string version;
  std::optional<std::string> commit;  // none outside a git checkout
  std::optional<bool> dirty;          // uncommitted changes to tracked files at build time
  std::string buildType;
  std::string compiler;  // "GCC" or "Clang"
  std::string compilerVersion;
  std::string flags;  // as given, -march=native included
  // The x86 extensions the compiler enabled (what -march=native resolved to), in a fixed order.
  std::vector<std::string> instructionSets;
  std::string vectorPath;
  int vectorDoubles = 0;
};
const BuildInfo& buildInfo();

// "GCC 12.2.0": the compiler of this build.
std::string compilerDescription();
// "avx512 (8 doubles per vector)".
std::string vectorPathDescription();
