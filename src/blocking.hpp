#pragma once

#include <algorithm>
#include <cstddef>

// The blocking constants of the factorisation and the solves outside the tile kernels (each kernel
// keeps its register shape in its own header under kernels/): tile edge, pass depths, group
// widths, the sizes of the stack buffers and how far ahead the steps prefetch. They change speed
// only: every entry receives the same rounded operations in the same order whatever their values,
// within the static_asserts below.

// The benchmark's problem: the order of its matrix and its column block size. lubench runs
// exactly these; lubench-report and the benchmarks take them as their defaults.
inline constexpr int kBenchmarkOrder = 4096;
inline constexpr int kBenchmarkBlock = 32;

// Tile edge of cache1's tile loop in all three loop dimensions.
inline constexpr int kTileEdge = 32;

// Doubles in one 64-byte cache line.
inline constexpr int kDoublesPerLine = 8;

// Entries of the packed right panels the tile loop keeps at once (2 MiB, on the stack): at a
// depth of two blocks of 32, a whole row of 4096 columns, so each row tile's left panel is packed
// once per pass and the sweep walks the matrix's rows from end to end; at four blocks, half a row
// (twice as much, a whole row, measured no faster on Zen 5).
inline constexpr int kPackedRightEntries = 256 * kTileEdge * kTileEdge;
// Longest inner range one pass over the tiles covers; a longer one takes several passes, each
// output entry carrying its running sum from one to the next.
inline constexpr int kMaxPassDepth = 512;
static_assert(kPackedRightEntries >= kMaxPassDepth * kTileEdge);

// Entries of the column copy the pivot search scans (256 KiB, on the stack).
inline constexpr int kPivotCopyEntries = 32768;
// Most columns the pivot search takes in one call.
inline constexpr int kMaxPivotSearchColumns = 64;
// How many rows ahead the pivot search's column copy asks for.
inline constexpr int kCopyPrefetchRows = 16;

// Largest block the look-ahead takes: its packing buffers are sized for it. Deeper blocks run one
// trailing pass each. Its pivot search covers a whole block in one call.
inline constexpr int kMaxLookAheadBlock = 64;
static_assert(kMaxLookAheadBlock <= kMaxPivotSearchColumns);
// Most blocks whose trailing updates share one sweep over the matrix, and the most rows below such
// a group that its blocks' interchanges can move up (each block but the first moves at most one a
// column).
inline constexpr int kMaxBlocksPerSweep = 4;
inline constexpr int kMaxMovingRows = (kMaxBlocksPerSweep - 1) * kMaxLookAheadBlock;
static_assert(kMaxBlocksPerSweep * kMaxLookAheadBlock <= kMaxPassDepth);

// Widest block whose multipliers are computed a vector of rows at a time, and how many vectors
// of rows are taken at once (their divisions overlap).
inline constexpr int kMaxVectorBlock = 64;
inline constexpr int kMultiplierGroups = 4;

// Columns of the block row of U finished for all the block's rows before the next columns.
inline constexpr int kBlockRowChunk = 64;

// Rows whose forward-substitution sums advance together.
inline constexpr int kForwardRows = 8;
// Largest order whose solve keeps its work vectors on the stack.
inline constexpr int kSolveStackOrder = 4096;

// Stack the block loop and the solves need at most: the largest buffer one of their steps keeps
// on the stack (the pivot search's column copy, the tile loop's packed panels, the look-ahead's
// packed rows, the solves' work vectors), plus room for the calls around it.
inline constexpr std::size_t kBlockLoopStackBytes =
    std::max({sizeof(double) * kPivotCopyEntries,
              sizeof(double) * (kTileEdge * kMaxPassDepth + kPackedRightEntries),
              sizeof(double) * (kMaxLookAheadBlock * kMaxLookAheadBlock +
                                kMaxLookAheadBlock * kTileEdge + kTileEdge * kTileEdge),
              sizeof(double) * 2 * kSolveStackOrder}) +
    (std::size_t{64} << 10);
