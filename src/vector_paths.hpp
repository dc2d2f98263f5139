#pragma once

#include <span>
#include <string>
#include <string_view>

#include "path_routines.hpp"

// The registry of vector paths and tile kernels: every path this executable holds, each compiled
// in translation units of its own with its own target flags (see path_namespace.hpp), and the
// choice among them, made once from what this CPU supports.

struct VectorPath {
  const char* name;   // avx512, avx2, avx, sse2, portable
  const char* needs;  // the instruction sets a CPU must have to run it, for people
  const PathRoutines& routines;
  bool (*cpuRuns)();  // this CPU (and its operating system) runs the path's instructions
};

// Every path this build holds, widest first.
std::span<const VectorPath> vectorPaths();

// The widest path this CPU runs (portable at worst), decided on the first call.
const VectorPath& widestRunnablePath();

// The path of that name, or null.
const VectorPath* findVectorPath(std::string_view name);

// path's kernels, its default first; the kernel of that name, or null.
std::span<const TileKernel> kernelsOf(const VectorPath& path);
const TileKernel* findKernel(const VectorPath& path, std::string_view name);

// What a run of the block loop runs on. A null path stands for the automatic choice; a null
// kernel for the path's default (or, in a build fixed to a kernel, that kernel).
struct KernelChoice {
  const VectorPath* path = nullptr;
  const TileKernel* kernel = nullptr;
};

// The build's fixed kernel (the LUBENCH_KERNEL build option), or null when the run chooses.
const char* fixedKernelName();

// choice with its gaps filled: the automatic path is the widest this CPU runs, or in a build
// fixed to a kernel the widest this CPU runs that holds it; the automatic kernel is the build's
// fixed kernel where the path holds it, else the path's default. Both null when the build is
// fixed to a kernel no path this CPU runs holds.
KernelChoice resolveChoice(KernelChoice choice);

// Usage text for a path or kernel this CPU cannot run: "<what> is not ... ; this CPU runs ...".
std::string runnablePathsAndKernels();
