#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "blocking.hpp"
#include "lu_step.hpp"

// What the runner measures: one record per timed run, gathered per combination of order and
// block. Nothing here is computed from other records; statistics.hpp summarises them.

// The options of one combination.
struct RunOptions {
  int n = kBenchmarkOrder;
  int block = kBenchmarkBlock;
  unsigned seed = 0;
  bool seedGiven = false;  // false: seed is the calendar time, as lubench seeds its generator
  int repeat = 1;          // timed runs
  bool warmUp = false;     // one untimed run first
  bool checkReference = false;
  bool compareLapack = false;  // each run is followed by LAPACK's on the same matrix
  std::string vectorPath = "auto";  // --vector-path: a path's name, or auto (the widest here)
  std::string kernel = "auto";      // --kernel: a tile kernel's name, or auto (the path's default)
};

// LAPACK's factorisation and solve (dgetrf + dgetrs) of the same matrix and right-hand side,
// run right after one of lubench's runs.
struct LapackRecord {
  long long timedNanoseconds = 0;
  double gflops = 0;    // hplFlops(n) / its time
  double residual = 0;  // scaledResidual of its solution, NaN when it is not finite
  int info = 0;         // LAPACK's status: 0 on success
};

// One trial of the tile kernels inside a run (see KernelPlan): the trailing region's order, the
// rows of tiles each candidate was given and their shape, each candidate's median time for one
// row of tiles, and the kernel the run went on with.
struct KernelTrialRecord {
  int order = 0;
  int rowsEach = 0;
  int columns = 0;  // of each row of tiles
  int depth = 0;    // inner steps of each tile
  struct Candidate {
    std::string kernel;
    long long medianNanoseconds = 0;
    double gflops = 0;  // 2 * 32 * columns * depth per row, over the median
  };
  std::vector<Candidate> candidates;
  std::string chosen;
};

struct RunRecord {
  long long startNanoseconds = 0;  // the monotonic clock's reading as the timed region began
  long long timedNanoseconds = 0;  // block loop and solves, exactly lubench's timed region
  std::array<long long, kLuStepCount> stepNanoseconds{};  // indexed by LuStep
  long long solveNanoseconds = 0;
  double gflops = 0;    // hplFlops(n) / timed region
  double residual = 0;  // scaledResidual of the solution, NaN when it is not finite
  int singularColumns = 0;
  unsigned long long fingerprint = 0;
  std::optional<LapackRecord> lapack;  // with compareLapack
  std::string vectorPath;  // the vector path and tile kernel that ran (empty in older documents);
  std::string kernel;      // with trials, the kernel in use at the end
  // How the kernel was chosen: "trial" (the run tried its path's kernels), "forced" (--kernel or
  // the build's fixed kernel) or "only" (the path holds one); empty in older documents.
  std::string kernelChoice;
  std::vector<KernelTrialRecord> kernelTrials;
};

enum class ReferenceCheck { kNotRequested, kIdentical, kDiffers };

// How quiet the machine was during a combination's timed regions.
struct QuietnessRecord {
  long involuntarySwitches = 0;         // this process's, from getrusage
  std::optional<double> stolenSeconds;  // steal time of all CPUs, where /proc/stat shows it
};

// Where a CPU sits: its core, package and NUMA node as /sys tells them (empty where it does not).
struct CpuPlace {
  int cpu = 0;
  std::optional<int> core;
  std::optional<int> package;
  std::optional<int> node;
};

// One copy of a combination run beside the others, each in its own process on its own CPU.
struct CopyRecord {
  CpuPlace place;
  std::vector<RunRecord> runs;  // its timed runs, as far as it got
  int signal = 0;               // the signal that ended it, or 0
  int exitStatus = 0;           // its exit status when it ended without its runs
  bool finished = false;        // every run made and handed on
};

// The timed runs of one combination and the checks made after them.
struct CombinationRecord {
  RunOptions options;
  std::vector<RunRecord> runs;  // never empty once the runner hands it on
  ReferenceCheck reference = ReferenceCheck::kNotRequested;
  std::string lapackLibrary;  // with compareLapack: the library and its kernel
  QuietnessRecord quietness;
  // With --copies: the same combination run by one copy per CPU at once, after the runs above
  // (the single copy, the others idle).
  std::vector<CopyRecord> copies;
};
