#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "matrix_index.hpp"
#include "vector_paths.hpp"

// The vector paths and the matrix index: what every kernel builds on.

namespace {

// The fused multiply-add the peak benchmark measures rounds once on every path, so its rate is
// that of a true fused operation (the canary of cache1_test.cpp the other way round).
TEST(VectorPaths, FusedMultiplyAddRoundsOnceOnEveryPath) {
  const double factor = 1 + std::ldexp(1.0, -30);
  for (const VectorPath& path : vectorPaths()) {
    if (!path.cpuRuns()) continue;
    SCOPED_TRACE(path.name);
    double lanes[8] = {};
    path.routines.fusedMultiplyAddLanes(factor, factor, -(1 + std::ldexp(1.0, -29)), lanes);
    for (int lane = 0; lane < path.routines.lanes; ++lane) {
      EXPECT_EQ(lanes[lane], std::ldexp(1.0, -60));
    }
  }
}

// Each path is compiled with its own target flags: a path built with the wrong ones has the
// wrong width (an avx512 path without AVX-512 would have 4 lanes).
TEST(VectorPaths, EachPathHasTheWidthOfItsInstructionSet) {
  for (const VectorPath& path : vectorPaths()) {
    const std::string name = path.name;
    const int want = name == "avx512" ? 8 : name == "avx2" || name == "avx" ? 4
                     : name == "sse2"                                         ? 2
                                                                              : 1;
    EXPECT_EQ(path.routines.lanes, want) << name;
    EXPECT_EQ(path.routines.fusedMultiplyAddInstruction, name == "avx512" || name == "avx2")
        << name;
    EXPECT_GE(path.routines.kernelCount, 1) << name;
  }
  EXPECT_STREQ(vectorPaths().back().name, "portable");
}

// Whatever the build's own target (the baseline build included), the run takes the widest path
// this CPU has, asked of the CPU here independently of the registry.
TEST(VectorPaths, TheAutomaticChoiceIsTheWidestThisCpuRuns) {
  __builtin_cpu_init();
  const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                      __builtin_cpu_supports("avx512cd");
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  const std::string want = avx512                        ? "avx512"
                           : avx2                        ? "avx2"
                           : __builtin_cpu_supports("avx") ? "avx"
                                                           : "sse2";
  const KernelChoice automatic = resolveChoice(KernelChoice{});
  ASSERT_NE(automatic.path, nullptr);
  if (fixedKernelName() == nullptr) {
    EXPECT_EQ(automatic.path->name, want);
    EXPECT_EQ(automatic.kernel, &kernelsOf(*automatic.path).front());
  } else {
    EXPECT_STREQ(automatic.kernel->name, fixedKernelName());
  }
  // A path asked for alone runs its default kernel, or the build's fixed one where it has it.
  for (const VectorPath& path : vectorPaths()) {
    const KernelChoice chosen = resolveChoice(KernelChoice{&path, nullptr});
    EXPECT_EQ(chosen.path, &path);
    ASSERT_NE(chosen.kernel, nullptr);
    if (fixedKernelName() == nullptr) {
      EXPECT_EQ(chosen.kernel, &kernelsOf(path).front());
    }
  }
}

TEST(VectorPaths, KernelsAreFoundByName) {
  for (const VectorPath& path : vectorPaths()) {
    EXPECT_EQ(findVectorPath(path.name), &path);
    for (const TileKernel& kernel : kernelsOf(path)) {
      EXPECT_EQ(findKernel(path, kernel.name), &kernel) << path.name << " " << kernel.name;
    }
    EXPECT_EQ(findKernel(path, "no_such_kernel"), nullptr);
  }
  EXPECT_EQ(findVectorPath("avx1024"), nullptr);
}

TEST(MatrixIndex, PositionsPastTheIntRangeDoNotOverflow) {
  // 46341^2 exceeds 2^31 - 1; every routine addresses entries through at().
  const int n = 46341;
  EXPECT_EQ(at(n - 1, n - 1, n), 46341ull * 46341ull - 1);
  EXPECT_EQ(at(n - 1, 0, n), 46340ull * 46341ull);
}

}  // namespace
