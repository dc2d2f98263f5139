#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "saved_expectations.hpp"

// A measured rate set against its reference band (--expect): computed once, here, for the run's
// reporters and the fleet alike.

enum class BandVerdict { kWithin, kBelow, kAbove, kNoReference };

struct BandCheck {
  BandVerdict verdict = BandVerdict::kNoReference;
  std::optional<ExpectationEntry> band;  // the entry checked against; none without a reference
  double measuredGflops = 0;
  // Below or above its band: the run, or the fleet, fails on it.
  bool outside() const {
    return verdict == BandVerdict::kBelow || verdict == BandVerdict::kAbove;
  }
};

// The entry of expectations for cpuModel (matched exactly), vectorPath, n and block, and where
// measuredGflops falls: within [lower, upper] (both edges inside), below or above it. No
// reference when no entry matches, or when the CPU model or the path is not known (empty); a
// rate that is not a finite number is below any band.
BandCheck checkBand(const SavedExpectations& expectations, const std::string& cpuModel,
                    const std::string& vectorPath, int n, int block, double measuredGflops);

// "within", "below", "above", "no_reference": the verdict as documents write it.
const char* verdictKey(BandVerdict verdict);

// "expected 36.0–46.0 GFLOP/s: below", or "no reference" without an entry.
std::string bandText(const BandCheck& check);

// "n 4096, block 32 on avx512: 30.12 GFLOP/s is below the band 36.0–46.0 GFLOP/s expected of
// AMD EPYC", or "... : no reference band for AMD EPYC": the line on standard error. what names
// the combination (and the node).
std::string bandMessage(const BandCheck& check, const std::string& what,
                        const std::string& cpuModel, const std::string& vectorPath);

// The check as a document's "expectation" object: the band's "gflops", "lower" and "upper" (null
// without a reference), "verdict" (verdictKey) and "measured_gflops"; null for no check (no
// --expect).
nlohmann::ordered_json bandJson(const std::optional<BandCheck>& check);
