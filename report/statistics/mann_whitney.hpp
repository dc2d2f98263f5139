#pragma once

#include <vector>

// The Mann–Whitney U test (Wilcoxon rank-sum) of two independent samples: whether one tends to
// give larger values than the other, without assuming any distribution.

struct MannWhitney {
  double u = 0;        // pairs (x, y) with x > y, ties counting one half
  double pValue = 1;   // two-sided
  bool exact = false;  // from the exact distribution of U, else the normal approximation
};

// Exact for samples without ties whose sizes multiply to at most kExactPairs; otherwise the
// normal approximation with the tie correction and a continuity correction. Empty samples give
// p = 1.
MannWhitney mannWhitney(const std::vector<double>& x, const std::vector<double>& y);

inline constexpr int kExactPairs = 2500;
