#include "expectations.hpp"

#include <cmath>

#include "text_format.hpp"

namespace {

// A bound as the messages show it: one decimal, as a table shows rates, and enough digits for a
// bound below 0.1 not to read as 0.
std::string boundText(double gflops) {
  return gflops >= 0.1 ? formatText("%.1f", gflops) : formatText("%.3g", gflops);
}

std::string bandRange(const ExpectationEntry& band) {
  return boundText(band.lower) + "–" + boundText(band.upper);
}

}  // namespace

BandCheck checkBand(const SavedExpectations& expectations, const std::string& cpuModel,
                    const std::string& vectorPath, int n, int block, double measuredGflops) {
  BandCheck check;
  check.measuredGflops = measuredGflops;
  if (cpuModel.empty() || vectorPath.empty()) return check;
  for (const ExpectationEntry& entry : expectations.entries) {
    if (entry.cpuModel != cpuModel || entry.vectorPath != vectorPath || entry.n != n ||
        entry.block != block) {
      continue;
    }
    check.band = entry;
    // A rate that is not a number did not reach the band; NaN compares false both ways.
    if (!std::isfinite(measuredGflops) || measuredGflops < entry.lower) {
      check.verdict = measuredGflops > entry.upper ? BandVerdict::kAbove : BandVerdict::kBelow;
    } else if (measuredGflops > entry.upper) {
      check.verdict = BandVerdict::kAbove;
    } else {
      check.verdict = BandVerdict::kWithin;
    }
    return check;
  }
  return check;
}

const char* verdictKey(BandVerdict verdict) {
  switch (verdict) {
    case BandVerdict::kWithin: return "within";
    case BandVerdict::kBelow: return "below";
    case BandVerdict::kAbove: return "above";
    case BandVerdict::kNoReference: return "no_reference";
  }
  return "?";
}

std::string bandText(const BandCheck& check) {
  if (!check.band) return "no reference";
  return "expected " + bandRange(*check.band) + " GFLOP/s: " + verdictKey(check.verdict);
}

std::string bandMessage(const BandCheck& check, const std::string& what,
                        const std::string& cpuModel, const std::string& vectorPath) {
  const std::string where = what + " on " + (vectorPath.empty() ? "?" : printable(vectorPath));
  const std::string model = cpuModel.empty() ? "an unknown CPU model" : printable(cpuModel);
  if (!check.band) return where + ": no reference band for " + model;
  return where + formatText(": %.2f GFLOP/s is %s the band ", check.measuredGflops,
                            verdictKey(check.verdict)) +
         bandRange(*check.band) + " GFLOP/s expected of " + model;
}

nlohmann::ordered_json bandJson(const std::optional<BandCheck>& check) {
  using json = nlohmann::ordered_json;
  if (!check) return json(nullptr);
  const auto of = [&](double ExpectationEntry::*figure) {
    return check->band ? json((*check->band).*figure) : json(nullptr);
  };
  return json{{"gflops", of(&ExpectationEntry::gflops)},
              {"lower", of(&ExpectationEntry::lower)},
              {"upper", of(&ExpectationEntry::upper)},
              {"verdict", verdictKey(check->verdict)},
              {"measured_gflops", std::isfinite(check->measuredGflops)
                                      ? json(check->measuredGflops)
                                      : json(nullptr)}};
}
