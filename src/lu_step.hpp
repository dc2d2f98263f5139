#pragma once

// The steps of the block loop, as its observer is told of them. With look-ahead, two
// consecutive blocks share one sweep over the trailing submatrix, and the first block's update is
// cut in three (see look_ahead.hpp).
enum class LuStep {
  kPivots,           // pivot search and row interchanges
  kDiagonalBlock,    // L and U of the diagonal block
  kMultipliers,      // multipliers of the rows below the diagonal block
  kBlockRowOfU,      // rows of U to the right of the diagonal block
  kNextColumns,      // a block's update of the next block's columns, ahead of the next pivots
  kFinishedRows,     // a block's update of the rows the next block moves or owns, before they move
  kTrailingSweep,    // scratch region and trailing submatrix, for one block or two
};
inline constexpr int kLuStepCount = 7;
