#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records.hpp"
#include "vector_paths.hpp"

// What this build of lubench is: version and commit, build type, compiler and flags, the
// instruction sets the compiler was allowed to use outside the vector paths, the vector paths and
// tile kernels the build holds, and the path and kernel it chooses on this CPU.
struct HeldPath {
  std::string name;
  std::string needs;  // the instruction sets it needs
  int doubles = 0;    // per vector
  bool runsHere = false;
  std::vector<std::string> kernels;  // the default first
  int blocksPerSweep = 0;            // the path's schedule: blocks whose updates share a sweep
};
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
  std::string vectorPath;  // the path the automatic choice runs on this CPU
  int vectorDoubles = 0;
  std::string kernel;                     // the kernel the automatic choice runs
  std::optional<std::string> fixedKernel;  // the LUBENCH_KERNEL build option, when set
  std::vector<HeldPath> paths;            // every path the build holds, widest first
};
const BuildInfo& buildInfo();

// "GCC 12.2.0": the compiler of this build.
std::string compilerDescription();

// The path and kernel options.vectorPath and options.kernel name ("auto" leaves them to the run):
// a kernel with path auto runs on the widest path this CPU runs that holds it. Names must have
// been checked (the command line does); an unknown name is left to the run.
KernelChoice kernelChoiceOf(const RunOptions& options);

// What a run with options runs on this CPU, by name: kernelChoiceOf resolved as the run resolves
// it. Empty names when nothing can run (a build fixed to a kernel no path here holds).
struct PathAndKernel {
  std::string path;
  int doubles = 0;
  std::string kernel;
};
PathAndKernel pathAndKernelOf(const RunOptions& options);

// The doubles per vector of the path the build holds by that name; 0 for any other name.
int doublesOfPath(const std::string& name);
