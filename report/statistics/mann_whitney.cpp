#include "mann_whitney.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// P(U <= u) under the null hypothesis for samples of m and n values without ties: the count of
// arrangements with U = k follows f(k; m, n) = f(k - n; m - 1, n) + f(k; m, n - 1), here carried
// as probabilities so that nothing overflows.
double exactAtMost(int m, int n, double u) {
  // p[j][k]: probability of U = k for samples of i and j values, for the current i.
  std::vector<std::vector<double>> p(n + 1, std::vector<double>(1, 1.0));
  for (int i = 1; i <= m; ++i) {
    std::vector<std::vector<double>> next(n + 1);
    next[0] = {1.0};
    for (int j = 1; j <= n; ++j) {
      // The largest of the i + j values is an x (probability i / (i + j)), adding j to U, or a y.
      next[j].assign(static_cast<std::size_t>(i) * j + 1, 0.0);
      const double fromX = static_cast<double>(i) / (i + j);
      for (std::size_t k = 0; k < p[j].size(); ++k) next[j][k + j] += fromX * p[j][k];
      for (std::size_t k = 0; k < next[j - 1].size(); ++k)
        next[j][k] += (1 - fromX) * next[j - 1][k];
    }
    p = std::move(next);
  }
  double sum = 0;
  for (std::size_t k = 0; k < p[n].size() && static_cast<double>(k) <= u + 1e-9; ++k) {
    sum += p[n][k];
  }
  return std::min(sum, 1.0);
}

}  // namespace

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
  for (std::size_t i = 0; i < pooled.size();) {
    std::size_t j = i;
    while (j < pooled.size() && pooled[j].first == pooled[i].first) ++j;
    const double meanRank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2;
    for (std::size_t k = i; k < j; ++k) {
      if (pooled[k].second) rankSumX += meanRank;
    }
    const double t = static_cast<double>(j - i);
    tieSum += t * t * t - t;
    i = j;
  }
  result.u = rankSumX - static_cast<double>(m) * (m + 1) / 2;
  const double mn = static_cast<double>(m) * n;
  if (tieSum == 0 && mn <= kExactPairs) {
    const double lower = exactAtMost(m, n, result.u);
    // U is symmetric about mn / 2: P(U >= u) = P(U <= mn - u).
    const double upper = exactAtMost(m, n, mn - result.u);
    result.pValue = std::min(1.0, 2 * std::min(lower, upper));
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
