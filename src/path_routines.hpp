#pragma once

#include <cstdint>

#include "lu_step.hpp"

// What each vector path compiles and hands the rest of the program: plain types and
// declarations only, so that including this file in a path's translation unit compiles no
// function under the path's flags with a name every path shares.

// Where the sums of one output tile start and where they go. cache1 reads and writes out; the
// fused trailing update starts from +0 on its first pass over the inner range, stores each
// finished sum in the scratch matrix out and subtracts it from the matrix entry in update.
//
// The inner range may be cut into equal segments, one per block of the factorisation whose
// updates share this sweep: each segment's sums start from +0 and are stored and subtracted on
// their own, in segment order, so every entry sees exactly the stores and subtractions of the
// blocks one after the other. Rows marked in finishedRows have had every segment but the last
// stored and subtracted already; for them only the last segment is stored.
struct TileTarget {
  double* out;         // the tile's top-left entry; rows n apart
  double* update;      // null, or the top-left entry of the tile that out is subtracted from
  bool startFromZero;  // sums start from +0 instead of from out
  bool streamOut;      // out is written around the cache (its rows are vector-aligned)
  const double* read;  // the tile the sums read from memory (for prefetching); may be null
  int segmentDepth;    // inner steps per segment; the whole depth when there is one segment
  std::uint32_t finishedRows;  // bit r: the tile's row r only takes the last segment's stores
};

// A kernel for one whole kTileEdge x kTileEdge output tile over the inner range [0, depth):
// packedLeft is the tile's kTileEdge x depth panel of left (row stride depth), packedRight the
// depth x kTileEdge panel of right (row stride kTileEdge); target's rows are n apart. nextRead
// (may be null) is the tile the caller computes next, to prefetch. Every output entry receives
// its products in increasing a, each rounded, exactly as TileTarget says; no edge logic.
using WholeTileKernel = void (*)(const double* packedLeft, const double* packedRight, int depth,
                                 const TileTarget& target, int n, const double* nextRead);

// A registered tile kernel: a name that says its register shape and width, a line saying what
// it is, and the call.
struct TileKernel {
  const char* name;
  const char* shape;
  WholeTileKernel run;
};

// Rows of an output region whose segments but the last are already stored and subtracted (see
// TileTarget): at most a few dozen positions, in any order.
struct FinishedRows {
  const int* rows = nullptr;
  int count = 0;
};

// What one call of the tile loop computes: outputs [rowBegin, rowEnd) x [colBegin, colEnd), inner
// range [first, first + depth), cut into `segments` equal segments (one per block whose updates
// share the sweep; more than one only for the fused update, and then depth <= kMaxPassDepth).
struct TrailingRegion {
  int rowBegin, rowEnd;
  int colBegin, colEnd;
  int first, depth;
  int segments = 1;
  FinishedRows finished;
};

// Told by the block loop after each step which step has just finished (a null observer is told
// nothing).
class StepObserver {
 public:
  virtual void finished(LuStep step) = 0;

 protected:
  ~StepObserver() = default;
};

// What the block loop's kernel trials found: at each trial, the trailing region's order, how many
// rows of tiles each candidate was given, each one's median time for a row of tiles, and the
// kernel chosen (an index into the candidates). Filled by the block loop; nothing allocated.
struct KernelTrialLog {
  static constexpr int kMaxTrials = 24;
  static constexpr int kMaxCandidates = 4;
  struct Trial {
    int order = 0;
    int rowsEach = 0;
    int columns = 0;  // of each row of tiles
    int depth = 0;    // inner steps of each tile
    long long medianNanoseconds[kMaxCandidates] = {};
    int chosen = 0;
  };
  Trial trials[kMaxTrials];
  int count = 0;
};

// Which tile kernels the block loop may use. With one candidate it runs that one throughout.
// With more, the first is the default; each large enough trailing sweep (first, then each time
// the region has shrunk by a set factor) hands its first rows of tiles to the candidates in
// turn, each row timed by now(), and goes on with the fastest, where a rival must beat the
// kernel in use by a margin. Every kernel leaves the same bytes, so the trial changes the time
// only.
struct KernelPlan {
  const TileKernel* candidates;  // count entries, at most KernelTrialLog::kMaxCandidates
  int count;
  long long (*now)();    // monotonic nanoseconds; null: CLOCK_MONOTONIC
  KernelTrialLog* log;   // may be null
};

// Everything one vector path compiles, each routine with the contract of its counterpart in
// lu_steps.hpp, block_loop.hpp, trailing_product.hpp, linalg.hpp and kernel_rate.hpp.
struct PathRoutines {
  int lanes;                          // doubles in one vector
  bool fusedMultiplyAddInstruction;  // the path has a fused multiply-add instruction
  const TileKernel* kernels;  // kernelCount entries, the path's default first
  int kernelCount;
  int blocksPerSweep;  // the path's schedule: blocks whose updates share one sweep
  // The block loop (blockedLu) with whole tiles by the plan's kernels and blocksPerSweep blocks a
  // sweep (1 turns the look-ahead off). Returns the number of columns reported singular.
  int (*blockedLu)(double* a, int* perm, double* s, int n, int b, const KernelPlan& plan,
                   StepObserver* observer, int blocksPerSweep);
  // Both triangular solves into y and x (n entries each; x may be y).
  void (*solve)(const int* perm, const double* a, const double* rhs, int n, double* y, double* x);
  // The tile loop: update null for cache1's accumulation, else the fused trailing update.
  void (*trailingPass)(const double* left, const double* right, double* out, double* update,
                       int n, const TrailingRegion& region, const TileKernel& kernel);
  int (*choosePanelPivots)(double* a, int* perm, int n, int first, int end);
  int (*searchPanelPivotsWithCopy)(const double* a, int n, int first, int end, int* pivotRows,
                                   double* copy, int copyEntries);
  // The kernel on operands in the first-level cache, tiles times; returns the operations done.
  double (*tileKernelInCache)(int tiles, const TileKernel& kernel);
  // Chains of multiplies and adds (fused or not) on registers; returns the operations done.
  double (*multiplyAddChains)(long steps, bool fused);
  // x * y + z in every lane of one vector, by the fused operation the chains time; lanes
  // receives the lanes' results.
  void (*fusedMultiplyAddLanes)(double x, double y, double z, double* lanes);
};
