#pragma once

#include <vector>

// The Mann–Whitney U test (Wilcoxon rank-sum) of two independent samples: whether one tends to
// give larger values than the other, without assuming any distribution.

struct MannWhitney {
  double u = 0;        // pairs (x, y) with x > y, ties counting one half
  double pValue = 1;   // two-sided
  bool exact = false;  // from the exact distribution of U given the ties, else the normal
                       // approximation
};

// Exact for samples whose sizes multiply to at most kExactPairs: the share of the labellings of
// the pooled values (ties kept as they are) whose U lies at least as far from mn / 2 as the one
// observed. Otherwise the normal approximation with the tie correction and a continuity
// correction. Empty samples give p = 1.
MannWhitney mannWhitney(const std::vector<double>& x, const std::vector<double>& y);

inline constexpr int kExactPairs = 2500;

// P(U <= k) for k = 0 .. m n under the null hypothesis, for samples of m and n values without
// ties; empty when m n exceeds kExactPairs or a sample is empty.
std::vector<double> exactCumulative(int m, int n);
