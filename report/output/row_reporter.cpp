#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "copies_text.hpp"
#include "labels.hpp"
#include "reporter.hpp"
#include "text_format.hpp"
#include "verification.hpp"

// The summary rows alone, as a Markdown table or as CSV: one row per combination, written as it
// finishes, for documents and spreadsheets. Both formats share one definition of the columns.
// Columns are only ever added at the end, so that a consumer reading by position keeps working.

namespace {

// What a cell is made from.
struct RowSource {
  const CombinationRecord& record;
  const Summary& summary;
  bool markdown;
};

// A figure in the row's format; what has no value is "-" in Markdown (as in the table) and an
// empty cell in CSV.
std::string figure(const RowSource& row, const char* format, double value) {
  if (!std::isfinite(value)) return row.markdown ? "-" : "";
  return formatText(format, value);
}

struct Column {
  const char* markdownName;
  const char* csvName;
  std::function<std::string(const RowSource&)> cell;
};

// The combination's own columns, n and block.
const std::vector<Column>& keyColumns() {
  static const std::vector<Column> all = {
      {"n", "n", [](const RowSource& r) { return std::to_string(r.record.options.n); }},
      {"block", "block", [](const RowSource& r) { return std::to_string(r.record.options.block); }},
  };
  return all;
}

// The kernel that ran, after n and block when --kernel named kernels.
const Column& kernelColumn() {
  static const Column column{"kernel", "kernel",
                             [](const RowSource& r) { return kernelLabel(r.record); }};
  return column;
}

// The figures and checks.
const std::vector<Column>& columns() {
  static const std::vector<Column> all = {
      {"median (ns)", "median_ns",
       [](const RowSource& r) { return figure(r, "%.0f", r.summary.timed.spread.median); }},
      {"GFLOP/s", "gflops",
       [](const RowSource& r) { return figure(r, "%.2f", r.summary.gflops.median); }},
      {"efficiency", "efficiency",
       [](const RowSource& r) {
         const double share = r.summary.efficiency.value_or(NAN);
         return r.markdown ? figure(r, "%.1f%%", 100 * share) : figure(r, "%.4f", share);
       }},
      {"residual", "residual",
       [](const RowSource& r) { return figure(r, "%.4g", r.summary.residual.max); }},
      {"r < 16", "residual_passed",
       [](const RowSource& r) -> std::string {
         if (r.markdown) return passedText(r.summary.residualsPassed);
         return r.summary.residualsPassed ? "1" : "0";
       }},
      {"reference", "reference",
       [](const RowSource& r) -> std::string {
         if (r.record.reference == ReferenceCheck::kNotRequested) return figure(r, "%f", NAN);
         return referenceCheckText(r.record.reference);
       }},
      {"fingerprint", "fingerprint", [](const RowSource& r) {
         return r.summary.fingerprintsAgree ? formatFingerprint(r.summary.fingerprint)
                                            : std::string("runs disagree");
       }}};
  return all;
}

// The columns of LAPACK's run, with --compare-lapack.
const std::vector<Column>& lapackColumns() {
  static const std::vector<Column> all = {
      {"LAPACK (ns)", "lapack_ns",
       [](const RowSource& r) {
         return figure(r, "%.0f", r.summary.lapack->timedNanoseconds.median);
       }},
      {"LAPACK GFLOP/s", "lapack_gflops",
       [](const RowSource& r) { return figure(r, "%.2f", r.summary.lapack->gflops.median); }},
      {"LAPACK residual", "lapack_residual",
       [](const RowSource& r) { return figure(r, "%.4g", r.summary.lapack->residualMax); }},
      {"ratio", "ratio",
       [](const RowSource& r) { return figure(r, "%.3f", r.summary.lapack->lubenchOverLapack); }}};
  return all;
}

// With --copies: how many copies finished, and each that died or disagreed.
const Column& copiesColumn() {
  static const Column column{"copies", "copies", [](const RowSource& r) {
                               return r.summary.copies ? copiesCell(*r.summary.copies)
                                                       : std::string();
                             }};
  return column;
}

// The median's neighbours, after every other column so that earlier columns keep their places:
// the timed region's min and max and the median's confidence interval (empty below the runs an
// interval needs), GFLOP/s's min and max, then what the efficiency is a share of.
const std::vector<Column>& spreadColumns() {
  static const std::vector<Column> all = {
      {"min (ns)", "min_ns",
       [](const RowSource& r) { return figure(r, "%.0f", r.summary.timed.spread.min); }},
      {"max (ns)", "max_ns",
       [](const RowSource& r) { return figure(r, "%.0f", r.summary.timed.spread.max); }},
      {"median low (ns)", "median_low_ns",
       [](const RowSource& r) {
         const std::optional<MedianInterval>& ci = r.summary.timed.medianInterval;
         return figure(r, "%.0f", ci ? ci->low : NAN);
       }},
      {"median high (ns)", "median_high_ns",
       [](const RowSource& r) {
         const std::optional<MedianInterval>& ci = r.summary.timed.medianInterval;
         return figure(r, "%.0f", ci ? ci->high : NAN);
       }},
      {"GFLOP/s min", "gflops_min",
       [](const RowSource& r) { return figure(r, "%.2f", r.summary.gflops.min); }},
      {"GFLOP/s max", "gflops_max",
       [](const RowSource& r) { return figure(r, "%.2f", r.summary.gflops.max); }},
      {"efficiency basis", "efficiency_basis",
       [](const RowSource&) { return std::string(kEfficiencyBasis); }}};
  return all;
}

// With --expect, after every other column: the median rate against its band; in CSV the
// verdict alone ("within", "below", "above", "no_reference").
const Column& bandColumn() {
  static const Column column{"band", "expectation", [](const RowSource& r) -> std::string {
                               if (!r.summary.expectation) return "";
                               return r.markdown ? bandText(*r.summary.expectation)
                                                 : verdictKey(r.summary.expectation->verdict);
                             }};
  return column;
}

class RowReporter : public Reporter {
 public:
  explicit RowReporter(bool markdown) : markdown_(markdown) {}

  void context(const SweepContext& context, const TextSink& sink) override {
    lapack_ = context.options.base.compareLapack;
    kernel_ = context.options.kernels != std::vector<std::string>{"auto"};
    copies_ = !context.options.copyPlaces.empty();
    bands_ = context.expectations.has_value();
    std::vector<std::string> names;
    for (const Column& column : shown()) {
      names.emplace_back(markdown_ ? column.markdownName : column.csvName);
    }
    sink(line(names));
    if (markdown_) sink(line(std::vector<std::string>(names.size(), "---")));
  }

  void combination(const CombinationRecord& record, const Summary& s,
                   const TextSink& sink) override {
    const RowSource source{record, s, markdown_};
    std::vector<std::string> cells;
    for (const Column& column : keyColumns()) cells.push_back(column.cell(source));
    if (kernel_) cells.push_back(kernelColumn().cell(source));
    for (const Column& column : columns()) cells.push_back(column.cell(source));
    if (s.lapack) {
      for (const Column& column : lapackColumns()) cells.push_back(column.cell(source));
    }
    if (copies_) cells.push_back(copiesColumn().cell(source));
    for (const Column& column : spreadColumns()) cells.push_back(column.cell(source));
    if (bands_) cells.push_back(bandColumn().cell(source));
    sink(line(cells));
  }

  // The rows say all; an interruption is said on standard error.
  void end(const SweepEnd&, const TextSink&) const override {}

 private:
  std::vector<Column> shown() const {
    std::vector<Column> all = keyColumns();
    if (kernel_) all.push_back(kernelColumn());
    all.insert(all.end(), columns().begin(), columns().end());
    if (lapack_) all.insert(all.end(), lapackColumns().begin(), lapackColumns().end());
    if (copies_) all.push_back(copiesColumn());
    all.insert(all.end(), spreadColumns().begin(), spreadColumns().end());
    if (bands_) all.push_back(bandColumn());
    return all;
  }

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
  bool kernel_ = false;
  bool copies_ = false;
  bool bands_ = false;
};

}  // namespace

std::unique_ptr<Reporter> makeRowReporter(bool markdown) {
  return std::make_unique<RowReporter>(markdown);
}
