#pragma once

#include "lu_step.hpp"

// How the reports name the block loop's steps, indexed by LuStep.

// For people, in the table.
inline constexpr const char* kLuStepNames[kLuStepCount] = {
    "pivot search and interchanges", "diagonal block", "multipliers", "block row of U",
    "next block's columns", "rows finished before moving", "trailing sweep"};
// For programs, as JSON keys.
inline constexpr const char* kLuStepKeys[kLuStepCount] = {
    "pivots",       "diagonal_block", "multipliers",   "block_row_of_u",
    "next_columns", "finished_rows",  "trailing_sweep"};
