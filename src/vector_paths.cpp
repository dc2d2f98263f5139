#include "vector_paths.hpp"

#include <cstring>

// Each path's routines, defined in its own translation units (vector_path.cpp compiled once per
// path).
#if defined(LUBENCH_X86_PATHS)
namespace lubench::avx512 {
extern const PathRoutines kRoutines;
}
namespace lubench::avx2 {
extern const PathRoutines kRoutines;
}
namespace lubench::avx {
extern const PathRoutines kRoutines;
}
namespace lubench::sse2 {
extern const PathRoutines kRoutines;
}
#endif
namespace lubench::portable {
extern const PathRoutines kRoutines;
}

namespace {

#if defined(LUBENCH_X86_PATHS)
// __builtin_cpu_supports also asks the operating system whether it saves the wider registers.
bool runsAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
         __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx2") &&
         __builtin_cpu_supports("fma");
}
bool runsAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
bool runsAvx() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx");
}
#endif
bool runsEverywhere() { return true; }

const VectorPath kPaths[] = {
#if defined(LUBENCH_X86_PATHS)
    {"avx512", "AVX-512 F, DQ, BW, VL and CD, AVX2, FMA", lubench::avx512::kRoutines, &runsAvx512},
    {"avx2", "AVX2, FMA", lubench::avx2::kRoutines, &runsAvx2},
    {"avx", "AVX", lubench::avx::kRoutines, &runsAvx},
    {"sse2", "SSE2", lubench::sse2::kRoutines, &runsEverywhere},
#endif
    {"portable", "nothing beyond the C++ compiler's scalar code", lubench::portable::kRoutines,
     &runsEverywhere},
};

#if defined(LUBENCH_FIXED_KERNEL)
constexpr const char* kFixedKernel = LUBENCH_FIXED_KERNEL;
#else
constexpr const char* kFixedKernel = nullptr;
#endif

// The build's fixed kernel on path, or null (no fixed kernel, or path does not hold it).
const TileKernel* fixedKernelOn(const VectorPath& path) {
#if defined(LUBENCH_FIXED_KERNEL)
  return findKernel(path, LUBENCH_FIXED_KERNEL);
#else
  static_cast<void>(path);
  return nullptr;
#endif
}

// The widest path this CPU runs that holds the kernel named (any, for null).
const VectorPath* widestRunnableHolding(const char* kernel) {
  for (const VectorPath& path : kPaths) {
    if (path.cpuRuns() && (kernel == nullptr || findKernel(path, kernel) != nullptr)) return &path;
  }
  return nullptr;
}

}  // namespace

std::span<const VectorPath> vectorPaths() { return kPaths; }

const VectorPath& widestRunnablePath() {
  static const VectorPath* const widest = widestRunnableHolding(nullptr);
  return *widest;
}

const VectorPath* findVectorPath(std::string_view name) {
  for (const VectorPath& path : kPaths) {
    if (name == path.name) return &path;
  }
  return nullptr;
}

std::span<const TileKernel> kernelsOf(const VectorPath& path) {
  return {path.routines.kernels, static_cast<std::size_t>(path.routines.kernelCount)};
}

const TileKernel* findKernel(const VectorPath& path, std::string_view name) {
  for (const TileKernel& kernel : kernelsOf(path)) {
    if (name == kernel.name) return &kernel;
  }
  return nullptr;
}

const char* fixedKernelName() { return kFixedKernel; }

KernelChoice resolveChoice(KernelChoice choice) {
  if (choice.path == nullptr) {
    if (kFixedKernel == nullptr) {
      choice.path = &widestRunnablePath();
    } else {
      static const VectorPath* const holding = widestRunnableHolding(kFixedKernel);
      if (holding == nullptr) return {};
      choice.path = holding;
    }
  }
  if (choice.kernel == nullptr) {
    const TileKernel* fixed = fixedKernelOn(*choice.path);
    choice.kernel = fixed != nullptr ? fixed : &kernelsOf(*choice.path).front();
  }
  return choice;
}

std::string runnablePathsAndKernels() {
  std::string text;
  for (const VectorPath& path : kPaths) {
    if (!path.cpuRuns()) continue;
    if (!text.empty()) text += "; ";
    text += path.name;
    text += " (";
    bool firstKernel = true;
    for (const TileKernel& kernel : kernelsOf(path)) {
      if (!firstKernel) text += ", ";
      text += kernel.name;
      firstKernel = false;
    }
    text += ")";
  }
  return text;
}
