#include "build_info.hpp"

#include "build_identity.hpp"
#include "vector_paths.hpp"

namespace {

// Each extension the target may use, by the macro the compilers define for it.
std::vector<std::string> enabledInstructionSets() {
  std::vector<std::string> sets;
  auto add = [&](bool enabled, const char* name) {
    if (enabled) sets.emplace_back(name);
  };
#if defined(__x86_64__) || defined(__i386__)
  bool sse2 = false, sse3 = false, ssse3 = false, sse41 = false, sse42 = false, avx = false,
       avx2 = false, fma = false, avx512f = false, avx512dq = false, avx512cd = false,
       avx512bw = false, avx512vl = false, avx512ifma = false, avx512vbmi = false,
       avx512vnni = false, avx512bf16 = false;
#ifdef __SSE2__
  sse2 = true;
#endif
#ifdef __SSE3__
  sse3 = true;
#endif
#ifdef __SSSE3__
  ssse3 = true;
#endif
#ifdef __SSE4_1__
  sse41 = true;
#endif
#ifdef __SSE4_2__
  sse42 = true;
#endif
#ifdef __AVX__
  avx = true;
#endif
#ifdef __AVX2__
  avx2 = true;
#endif
#ifdef __FMA__
  fma = true;
#endif
#ifdef __AVX512F__
  avx512f = true;
#endif
#ifdef __AVX512DQ__
  avx512dq = true;
#endif
#ifdef __AVX512CD__
  avx512cd = true;
#endif
#ifdef __AVX512BW__
  avx512bw = true;
#endif
#ifdef __AVX512VL__
  avx512vl = true;
#endif
#ifdef __AVX512IFMA__
  avx512ifma = true;
#endif
#ifdef __AVX512VBMI__
  avx512vbmi = true;
#endif
#ifdef __AVX512VNNI__
  avx512vnni = true;
#endif
#ifdef __AVX512BF16__
  avx512bf16 = true;
#endif
  add(sse2, "sse2");
  add(sse3, "sse3");
  add(ssse3, "ssse3");
  add(sse41, "sse4.1");
  add(sse42, "sse4.2");
  add(avx, "avx");
  add(avx2, "avx2");
  add(fma, "fma");
  add(avx512f, "avx512f");
  add(avx512dq, "avx512dq");
  add(avx512cd, "avx512cd");
  add(avx512bw, "avx512bw");
  add(avx512vl, "avx512vl");
  add(avx512ifma, "avx512ifma");
  add(avx512vbmi, "avx512vbmi");
  add(avx512vnni, "avx512vnni");
  add(avx512bf16, "avx512bf16");
#endif
  return sets;
}

BuildInfo makeBuildInfo() {
  BuildInfo info;
  info.version = kLubenchVersion;
  if (kGitCommit != nullptr) info.commit = kGitCommit;
  info.dirty = kGitDirty;
  info.buildType = LUBENCH_BUILD_TYPE;
  info.flags = LUBENCH_COMPILE_FLAGS;
#if defined(__clang__)
  info.compiler = "Clang";
  info.compilerVersion = __clang_version__;
#elif defined(__GNUC__)
  info.compiler = "GCC";
  info.compilerVersion = __VERSION__;
#else
  info.compiler = "unknown";
#endif
  // Clang's version string ends in a space on some releases.
  while (!info.compilerVersion.empty() && info.compilerVersion.back() == ' ') {
    info.compilerVersion.pop_back();
  }
  info.instructionSets = enabledInstructionSets();
  const KernelChoice automatic = resolveChoice(KernelChoice{});
  const VectorPath& path = automatic.path != nullptr ? *automatic.path : widestRunnablePath();
  info.vectorPath = path.name;
  info.vectorDoubles = path.routines.lanes;
  info.kernel = automatic.kernel != nullptr ? automatic.kernel->name : "";
  if (fixedKernelName() != nullptr) info.fixedKernel = fixedKernelName();
  for (const VectorPath& held : vectorPaths()) {
    HeldPath entry{held.name, held.needs, held.routines.lanes, held.cpuRuns(), {},
                   held.routines.blocksPerSweep};
    for (const TileKernel& kernel : kernelsOf(held)) entry.kernels.push_back(kernel.name);
    info.paths.push_back(entry);
  }
  return info;
}

}  // namespace

const BuildInfo& buildInfo() {
  static const BuildInfo info = makeBuildInfo();
  return info;
}

std::string compilerDescription() {
  return buildInfo().compiler + " " + buildInfo().compilerVersion;
}

KernelChoice kernelChoiceOf(const RunOptions& options) {
  KernelChoice choice;
  if (options.vectorPath != "auto") choice.path = findVectorPath(options.vectorPath);
  if (options.kernel == "auto") return choice;
  if (choice.path == nullptr) {
    // The widest path this CPU runs that holds the kernel.
    for (const VectorPath& path : vectorPaths()) {
      if (path.cpuRuns() && findKernel(path, options.kernel) != nullptr) {
        choice.path = &path;
        break;
      }
    }
  }
  if (choice.path != nullptr) choice.kernel = findKernel(*choice.path, options.kernel);
  return choice;
}

PathAndKernel pathAndKernelOf(const RunOptions& options) {
  const KernelChoice choice = resolveChoice(kernelChoiceOf(options));
  if (choice.path == nullptr || choice.kernel == nullptr) return {};
  return PathAndKernel{choice.path->name, choice.path->routines.lanes, choice.kernel->name};
}

int doublesOfPath(const std::string& name) {
  for (const HeldPath& path : buildInfo().paths) {
    if (path.name == name) return path.doubles;
  }
  return 0;
}
