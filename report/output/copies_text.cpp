#include "copies_text.hpp"

#include <optional>

#include "labels.hpp"
#include "text_format.hpp"
#include "verification.hpp"

namespace {

// A figure, or "-" where there is none (as elsewhere in the table).
std::string shown(const char* format, const std::optional<double>& value) {
  return value ? formatText(format, *value) : std::string("-");
}

}  // namespace

// PASSED or FAILED, and why when copies disagreed or died: the status says so too (3, 1).
std::string resultText(bool passed, const std::vector<const CopiesSummary*>& copies) {
  std::string disagree, died;
  for (const CopiesSummary* c : copies) {
    for (const std::string& d : c->dissents) disagree += (disagree.empty() ? "" : "; ") + d;
    for (const std::string& d : c->deaths) died += (died.empty() ? "" : "; ") + d;
  }
  if (disagree.empty() && died.empty()) return passedText(passed);
  std::string why;
  if (!disagree.empty()) why = "copies disagree: " + disagree;
  if (!died.empty()) why += (why.empty() ? "" : "; ") + std::string("copies died: ") + died;
  return "FAILED (" + why + ")";
}

// The copies run together: their figures, one line per copy, and what went wrong.
std::string copiesText(const CopiesSummary& c, const Summary& single) {
  std::string out = formatText(
      "\ncopies: %zu at once, one process per CPU; the single copy above ran with the others "
      "idle\n",
      c.copies.size());
  const int finished = c.finishedCount();
  if (finished == 0) {
    out += "  no copy finished: no total, contention or overlap\n";
  } else {
    if (finished < static_cast<int>(c.copies.size())) {
      out += formatText("  over the %d of %zu copies that finished:\n", finished, c.copies.size());
    }
    out += formatText(
        "  total %s GFLOP/s; the median copy took %s x the single copy's time (contention), "
        "the slowest %s x the median's; the timed regions overlapped %s %%\n",
        shown("%.2f", c.totalGflops).c_str(), shown("%.3f", c.contentionRatio).c_str(),
        shown("%.3f", c.slowestOverMedian).c_str(),
        shown("%.1f", c.overlap ? std::optional<double>(100 * *c.overlap) : std::nullopt).c_str());
  }
  out += formatText("  %5s %5s %8s %5s %16s %9s  %-16s\n", "CPU", "core", "package", "node",
                    "median (ns)", "GFLOP/s", "fingerprint");
  const auto optional = [](const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string("-");
  };
  for (const CopySummary& copy : c.copies) {
    const std::optional<double> median =
        copy.finished ? std::optional<double>(copy.timed.median) : std::nullopt;
    const std::optional<double> rate =
        copy.finished ? std::optional<double>(copy.medianGflops) : std::nullopt;
    out += formatText("  %5d %5s %8s %5s %16s %9s  %-16s%s\n", copy.place.cpu,
                      optional(copy.place.core).c_str(), optional(copy.place.package).c_str(),
                      optional(copy.place.node).c_str(), shown("%.0f", median).c_str(),
                      shown("%.2f", rate).c_str(),
                      copy.finished ? formatFingerprint(copy.fingerprint).c_str() : "-",
                      !copy.finished ? ("  DIED: " + copy.died).c_str()
                      : copy.agrees  ? ""
                                     : "  DIFFERS");
  }
  out += formatText("  single copy: median %.0f ns, %.2f GFLOP/s\n", single.timed.spread.median,
                    single.gflops.median);
  for (const std::string& dissent : c.dissents) out += "  COPIES DISAGREE: " + dissent + "\n";
  for (const std::string& death : c.deaths) out += "  COPY DIED: " + death + "\n";
  for (const std::string& warning : c.warnings) out += "  warning: " + warning + "\n";
  return out;
}

std::string copiesCell(const CopiesSummary& c) {
  std::string cell = formatText("%d of %zu finished", c.finishedCount(), c.copies.size());
  for (const std::string& death : c.deaths) cell += "; died: " + death;
  for (const std::string& dissent : c.dissents) cell += "; disagree: " + dissent;
  return cell;
}
