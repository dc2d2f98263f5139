#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "statistics.hpp"

// The copies run together, set against each other and against the single copy. A copy that did
// not finish is named with how it ended and counts in nothing: not in the vote on the
// fingerprint, not in the total, the contention or the overlap.

namespace {

// "SIGKILL" for signal 9.
std::string sigabbrevOf(int signal) {
  const char* name = sigabbrev_np(signal);
  return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

std::string placeText(const CpuPlace& place) {
  std::string text = "CPU " + std::to_string(place.cpu);
  if (place.core) text += " (core " + std::to_string(*place.core) + ")";
  return text;
}

std::string hex(unsigned long long fingerprint) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", fingerprint);
  return text;
}

// How a copy that did not finish ended; empty for a finished one.
std::string diedOf(const CopyRecord& copy, int repeat) {
  if (copy.finished) return "";
  if (copy.signal != 0) return "killed by " + sigabbrevOf(copy.signal);
  if (copy.exitStatus != 0) {
    return "ended with status " + std::to_string(copy.exitStatus) + " without a result";
  }
  if (copy.runs.empty()) return "wrote no result";
  return "wrote " + std::to_string(copy.runs.size()) + " of " + std::to_string(repeat) + " results";
}

// The fingerprint most finished copies gave, the single copy counting as one of them.
unsigned long long majorityOf(const CombinationRecord& record, unsigned long long single) {
  std::vector<std::pair<unsigned long long, int>> votes{{single, 1}};
  for (const CopyRecord& copy : record.copies) {
    if (!copy.finished || copy.runs.empty()) continue;
    const unsigned long long print = copy.runs.back().fingerprint;
    auto found = std::find_if(votes.begin(), votes.end(),
                              [&](const auto& vote) { return vote.first == print; });
    if (found == votes.end()) {
      votes.emplace_back(print, 1);
    } else {
      ++found->second;
    }
  }
  return std::max_element(votes.begin(), votes.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

// Per run, how long every finished copy was inside its timed region over their median duration;
// the median of that over the runs, or nothing when no copy finished.
std::optional<double> overlapOf(const CombinationRecord& record) {
  std::size_t runCount = 0;
  for (const CopyRecord& copy : record.copies) {
    if (copy.finished) runCount = std::max(runCount, copy.runs.size());
  }
  std::vector<double> overlaps;
  for (std::size_t i = 0; i < runCount; ++i) {
    long long latestStart = 0, earliestEnd = 0;
    std::vector<double> durations;
    for (const CopyRecord& copy : record.copies) {
      if (!copy.finished || i >= copy.runs.size()) continue;
      const RunRecord& run = copy.runs[i];
      const long long end = run.startNanoseconds + run.timedNanoseconds;
      if (durations.empty() || run.startNanoseconds > latestStart)
        latestStart = run.startNanoseconds;
      if (durations.empty() || end < earliestEnd) earliestEnd = end;
      durations.push_back(static_cast<double>(run.timedNanoseconds));
    }
    const double duration = spreadOf(durations).median;
    if (duration > 0) {
      overlaps.push_back(std::max(0.0, static_cast<double>(earliestEnd - latestStart) / duration));
    }
  }
  if (overlaps.empty()) return std::nullopt;
  return spreadOf(overlaps).median;
}

}  // namespace

int CopiesSummary::finishedCount() const {
  return static_cast<int>(
      std::count_if(copies.begin(), copies.end(), [](const CopySummary& c) { return c.finished; }));
}

CopiesSummary summarizeCopies(const CombinationRecord& record, double singleMedian,
                              unsigned long long singleFingerprint) {
  CopiesSummary c;
  const unsigned long long majority = majorityOf(record, singleFingerprint);
  if (singleFingerprint != majority) {
    c.dissents.push_back("the single copy gave " + hex(singleFingerprint) +
                         " where the copies gave " + hex(majority));
  }
  std::vector<double> medians;
  double total = 0;
  for (const CopyRecord& copy : record.copies) {
    CopySummary one;
    one.place = copy.place;
    one.signal = copy.signal;
    one.exitStatus = copy.exitStatus;
    one.finished = copy.finished;
    one.died = diedOf(copy, record.options.repeat);
    std::vector<double> times, rates;
    for (const RunRecord& run : copy.runs) {
      times.push_back(static_cast<double>(run.timedNanoseconds));
      rates.push_back(run.gflops);
      if (copy.finished && run.fingerprint != majority) one.agrees = false;
    }
    one.timed = spreadOf(times);
    one.medianGflops = spreadOf(rates).median;
    if (!copy.runs.empty()) one.fingerprint = copy.runs.back().fingerprint;
    if (!one.agrees) {
      c.dissents.push_back(placeText(copy.place) + " gave " + hex(one.fingerprint) + " where " +
                           (singleFingerprint == majority ? "the single copy and " : "") +
                           "most copies gave " + hex(majority));
    }
    if (!copy.finished) {
      c.deaths.push_back(placeText(copy.place) + ": " + one.died + " after " +
                         std::to_string(copy.runs.size()) + " timed runs");
    } else {
      total += one.medianGflops;
      medians.push_back(one.timed.median);
    }
    c.copies.push_back(one);
  }
  if (!medians.empty()) {
    const double medianCopy = spreadOf(medians).median;
    c.totalGflops = total;
    if (singleMedian > 0) c.contentionRatio = medianCopy / singleMedian;
    if (medianCopy > 0) {
      c.slowestOverMedian = *std::max_element(medians.begin(), medians.end()) / medianCopy;
    }
  }
  c.overlap = overlapOf(record);
  if (c.overlap && *c.overlap < kOverlapWarning) {
    c.warnings.push_back("the copies' timed regions overlapped " +
                         std::to_string(static_cast<int>(100 * *c.overlap)) +
                         " % of the median run, below 90 %: they did not all run together");
  }
  return c;
}
