#pragma once

#include "lu_step.hpp"
#include "records.hpp"

// The texts every reporter shares: each name written once.

// A check's outcome: "PASSED" or "FAILED".
inline const char* passedText(bool passed) {
  return passed ? "PASSED" : "FAILED";
}

// The comparison with the plain scalar rendering: "identical", "differs" or "not requested".
inline const char* referenceCheckText(ReferenceCheck check) {
  switch (check) {
    case ReferenceCheck::kIdentical:
      return "identical";
    case ReferenceCheck::kDiffers:
      return "differs";
    case ReferenceCheck::kNotRequested:
      break;
  }
  return "not requested";
}

// How the reports name the block loop's steps, indexed by LuStep.

// For people, in the table.
inline constexpr const char* kLuStepNames[kLuStepCount] = {"pivot search and interchanges",
                                                           "diagonal block",
                                                           "multipliers",
                                                           "block row of U",
                                                           "next block's columns",
                                                           "rows finished before moving",
                                                           "trailing sweep"};
// For programs, as JSON keys.
inline constexpr const char* kLuStepKeys[kLuStepCount] = {
    "pivots",       "diagonal_block", "multipliers",   "block_row_of_u",
    "next_columns", "finished_rows",  "trailing_sweep"};
// The solves' key beside them.
inline constexpr const char* kSolvesKey = "solves";

// What the efficiency is a share of, as the documents and rows name it: the core's peak for
// separate multiplies and adds (its chains of them measured before the runs), not the fused
// multiply-add peak, which the runs never use (the build forbids contraction).
inline constexpr const char* kEfficiencyBasis = "separate_multiply_add_peak";
