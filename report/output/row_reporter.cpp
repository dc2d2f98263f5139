#include <cmath>
#include <cstdio>
#include <string>

#include "labels.hpp"
#include "reporter.hpp"
#include "text_format.hpp"
#include "verification.hpp"

// The summary rows alone, as a Markdown table or as CSV: one row per combination, written as it
// finishes, for documents and spreadsheets.

namespace {

class RowReporter : public Reporter {
 public:
  // A figure in the row's format; what has no value is "-" in Markdown (as in the table) and an
  // empty cell in CSV.
  std::string number(const char* format, double value) const {
    if (!std::isfinite(value)) return markdown_ ? "-" : "";
    return formatText(format, value);
  }

  explicit RowReporter(bool markdown) : markdown_(markdown) {}

  void context(const SweepContext& context, const TextSink& sink) override {
    lapack_ = context.options.base.compareLapack;
    std::vector<std::string> names = {"n",       "block",      "median (ns)",
                                      "GFLOP/s", "efficiency", "residual",
                                      "r < 16",  "reference",  "fingerprint"};
    if (!markdown_) {
      names = {"n",        "block",           "median_ns", "gflops",     "efficiency",
               "residual", "residual_passed", "reference", "fingerprint"};
    }
    if (lapack_) {
      for (const char* name : {"LAPACK (ns)", "LAPACK GFLOP/s", "LAPACK residual", "ratio"}) {
        names.emplace_back(name);
      }
      if (!markdown_) {
        names.resize(names.size() - 4);
        for (const char* name : {"lapack_ns", "lapack_gflops", "lapack_residual", "ratio"}) {
          names.emplace_back(name);
        }
      }
    }
    sink(line(names));
    if (markdown_) sink(line(std::vector<std::string>(names.size(), "---")));
  }

  void combination(const CombinationRecord& record, const Summary& s,
                   const TextSink& sink) override {
    const std::string reference = record.reference == ReferenceCheck::kNotRequested
                                      ? number("%f", NAN)
                                      : referenceCheckText(record.reference);
    std::vector<std::string> cells = {
        std::to_string(record.options.n),
        std::to_string(record.options.block),
        number("%.0f", s.timed.spread.median),
        number("%.2f", s.gflops.median),
        s.efficiency
            ? number(markdown_ ? "%.1f%%" : "%.4f", markdown_ ? 100 * *s.efficiency : *s.efficiency)
            : number("%f", NAN),
        number("%.4g", s.residual.max),
        markdown_ ? passedText(s.residualsPassed) : (s.residualsPassed ? "1" : "0"),
        reference,
        s.fingerprintsAgree ? formatFingerprint(s.fingerprint) : "runs disagree"};
    if (s.lapack) {
      cells.push_back(number("%.0f", s.lapack->timedNanoseconds.median));
      cells.push_back(number("%.2f", s.lapack->gflops.median));
      cells.push_back(number("%.4g", s.lapack->residualMax));
      cells.push_back(number("%.3f", s.lapack->lubenchOverLapack));
    }
    sink(line(cells));
  }

  // The rows say all; an interruption is said on standard error.
  void end(const SweepEnd&, const TextSink&) const override {}

 private:
  std::string line(const std::vector<std::string>& cells) const {
    std::string out = markdown_ ? "|" : "";
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (markdown_) {
        out += " " + cells[i] + " |";
      } else {
        out += (i == 0 ? "" : ",") + cells[i];
      }
    }
    return out + "\n";
  }

  bool markdown_;
  bool lapack_ = false;
};

}  // namespace

std::unique_ptr<Reporter> makeRowReporter(bool markdown) {
  return std::make_unique<RowReporter>(markdown);
}
