#include "mann_whitney.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace {

// Sizes of the runs of equal values in the pooled sample, in ascending order of value, and for
// each run how many of its values came from x.
struct TieGroups {
  std::vector<int> sizes;
  std::vector<int> fromX;
};

// The two-sided p-value from the exact distribution of U conditional on the ties: the share of
// all C(m + n, m) ways of labelling m of the pooled values x whose U lies at least as far from
// mn / 2 as the observed one. Without ties this is the classical exact test. U is carried doubled
// (ties add halves) so that every comparison is between integers. The table holds, for i x
// labels placed so far, the number of labellings giving each doubled U; placing k of a run of t
// values among the x labels, after j y values, adds k (2 j + t - k) to it.
// Returns the table for i = m and the observed doubled U.
std::pair<std::vector<double>, std::int64_t> labellings(int m, int n, const TieGroups& groups) {
  const int twiceMax = 2 * m * n;
  std::vector<std::vector<double>> ways(static_cast<std::size_t>(m) + 1,
                                        std::vector<double>(static_cast<std::size_t>(twiceMax) + 1));
  ways[0][0] = 1;
  int placed = 0;   // values of the runs so far
  int xPlaced = 0;  // of them from x
  std::int64_t observed = 0;
  for (std::size_t g = 0; g < groups.sizes.size(); ++g) {
    const int t = groups.sizes[g];
    observed += static_cast<std::int64_t>(groups.fromX[g]) *
                (2 * (placed - xPlaced) + t - groups.fromX[g]);
    xPlaced += groups.fromX[g];
    // Binomial coefficients C(t, k) for the run.
    std::vector<double> choose(static_cast<std::size_t>(t) + 1, 1.0);
    for (int k = 1; k <= t; ++k) choose[k] = choose[k - 1] * (t - k + 1) / k;
    std::vector<std::vector<double>> next(ways.size(), std::vector<double>(ways[0].size()));
    for (int i = 0; i <= std::min(m, placed); ++i) {
      const int yBefore = placed - i;
      if (yBefore > n) continue;
      for (int k = 0; k <= t && i + k <= m; ++k) {
        if (yBefore + (t - k) > n) continue;
        const int add = k * (2 * yBefore + t - k);
        const std::vector<double>& from = ways[i];
        std::vector<double>& to = next[i + k];
        for (int u = 0; u + add <= twiceMax; ++u) {
          if (from[u] != 0) to[u + add] += choose[k] * from[u];
        }
      }
    }
    ways = std::move(next);
    placed += t;
  }
  return {std::move(ways[m]), observed};
}

double exactConditional(int m, int n, const TieGroups& groups) {
  const auto [ways, observed] = labellings(m, n, groups);
  const std::int64_t mn = static_cast<std::int64_t>(m) * n;
  const std::int64_t distance = std::llabs(observed - mn);
  double total = 0, extreme = 0;
  for (std::size_t u = 0; u < ways.size(); ++u) {
    total += ways[u];
    if (std::llabs(static_cast<std::int64_t>(u) - mn) >= distance) extreme += ways[u];
  }
  return total > 0 ? std::min(1.0, extreme / total) : 1.0;
}

}  // namespace

std::vector<double> exactCumulative(int m, int n) {
  if (m <= 0 || n <= 0 || static_cast<double>(m) * n > kExactPairs) return {};
  if (m > n) std::swap(m, n);  // the same distribution, from a smaller table
  TieGroups distinct;
  distinct.sizes.assign(static_cast<std::size_t>(m) + n, 1);
  distinct.fromX.assign(static_cast<std::size_t>(m) + n, 0);  // the observed U is not wanted
  const std::vector<double> ways = labellings(m, n, distinct).first;
  double total = 0;
  for (double w : ways) total += w;
  std::vector<double> cumulative;
  double sum = 0;
  for (std::size_t twice = 0; twice < ways.size(); twice += 2) {  // without ties U is whole
    sum += ways[twice];
    cumulative.push_back(std::min(1.0, sum / total));
  }
  return cumulative;
}

MannWhitney mannWhitney(const std::vector<double>& x, const std::vector<double>& y) {
  MannWhitney result;
  const int m = static_cast<int>(x.size());
  const int n = static_cast<int>(y.size());
  if (m == 0 || n == 0) return result;
  // U from the ranks in the pooled sample (tied values share their mean rank), in
  // O((m + n) log(m + n)) however large the samples: U = (sum of x's ranks) - m (m + 1) / 2.
  // The ties also give the variance's correction.
  std::vector<std::pair<double, bool>> pooled;  // value, from x
  for (double a : x) pooled.emplace_back(a, true);
  for (double b : y) pooled.emplace_back(b, false);
  std::sort(pooled.begin(), pooled.end(),
            [](const auto& p, const auto& q) { return p.first < q.first; });
  double rankSumX = 0;
  double tieSum = 0;
  TieGroups groups;
  for (std::size_t i = 0; i < pooled.size();) {
    std::size_t j = i;
    while (j < pooled.size() && pooled[j].first == pooled[i].first) ++j;
    const double meanRank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2;
    int fromX = 0;
    for (std::size_t k = i; k < j; ++k) {
      if (pooled[k].second) {
        rankSumX += meanRank;
        ++fromX;
      }
    }
    groups.sizes.push_back(static_cast<int>(j - i));
    groups.fromX.push_back(fromX);
    const double t = static_cast<double>(j - i);
    tieSum += t * t * t - t;
    i = j;
  }
  result.u = rankSumX - static_cast<double>(m) * (m + 1) / 2;
  const double mn = static_cast<double>(m) * n;
  if (mn <= kExactPairs) {
    // The table grows with the first sample: labelling the smaller one gives the same p, its U
    // being m n - U, as far from the centre.
    if (m > n) {
      for (std::size_t g = 0; g < groups.sizes.size(); ++g) {
        groups.fromX[g] = groups.sizes[g] - groups.fromX[g];
      }
    }
    result.pValue = exactConditional(std::min(m, n), std::max(m, n), groups);
    result.exact = true;
    return result;
  }
  const double total = m + n;
  const double variance = mn / 12 * ((total + 1) - tieSum / (total * (total - 1)));
  if (variance <= 0) return result;  // every value equal: no evidence either way
  const double distance = std::max(0.0, std::fabs(result.u - mn / 2) - 0.5);
  result.pValue = std::min(1.0, std::erfc(distance / std::sqrt(variance) / std::sqrt(2.0)));
  return result;
}
