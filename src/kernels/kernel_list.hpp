#pragma once

#include "path_routines.hpp"
#include "pipelined_rows.hpp"
#include "row_bands.hpp"
#include "simd.hpp"

// The registry's entries: every kernel for whole tiles, listed per vector width, the width's
// default first, and the width's schedule: how many blocks share one sweep over the matrix (see
// look_ahead.hpp), set by measurement at the benchmark's order and changed from the pairs of
// blocks only where a deeper group was measured faster and nowhere slower (docs/performance.md). A path holds
// the list of its own width (kDoubleLanes), each kernel compiled with the path's flags. A new
// kernel is a header of its own in this folder with its constants, and one line here.

namespace lubench::LUBENCH_PATH_NAMESPACE {

template <int Lanes>
struct KernelList;

template <>
struct KernelList<8> {
  static constexpr int kBlocksPerSweep = 4;
  static constexpr TileKernel kEntries[] = {
      {"pipelined_3x4v8",
       "register blocks of 3 rows x 4 vectors of 8 doubles, each block's write-back in the next "
       "block's steps",
       &accumulateTilePipelined<8>},
      {"bands_6_5x4v8",
       "bands of 6 and 5 rows x 4 vectors of 8 doubles, each block stored as it finishes",
       &accumulateTileInRowBands<8>},
  };
};

template <>
struct KernelList<4> {
  static constexpr int kBlocksPerSweep = 2;
  static constexpr TileKernel kEntries[] = {
      {"bands_6_5x2v4",
       "bands of 6 and 5 rows x 2 vectors of 4 doubles, each block stored as it finishes",
       &accumulateTileInRowBands<4>},
  };
};

template <>
struct KernelList<2> {
  static constexpr int kBlocksPerSweep = 2;
  static constexpr TileKernel kEntries[] = {
      {"bands_6_5x2v2",
       "bands of 6 and 5 rows x 2 vectors of 2 doubles, each block stored as it finishes",
       &accumulateTileInRowBands<2>},
  };
};

template <>
struct KernelList<1> {
  static constexpr int kBlocksPerSweep = 2;
  static constexpr TileKernel kEntries[] = {
      {"bands_6_5x2v1", "bands of 6 and 5 rows x 2 scalars, each block stored as it finishes",
       &accumulateTileInRowBands<1>},
  };
};

}  // namespace lubench::LUBENCH_PATH_NAMESPACE
