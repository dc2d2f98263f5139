#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "interruption.hpp"
#include "reporter.hpp"
#include "simd.hpp"
#include "step_labels.hpp"
#include "verification.hpp"

// The report as JSON: one object for a single combination, an array of them for several, each
// written as its combination finishes. A sweep that stops early ends with a marker object
// {"interrupted": true, ...} in the array (or alone, when nothing had finished), so the document
// stays valid.

namespace {

using json = nlohmann::ordered_json;

json spreadJson(const Spread& s) {
  return json{{"min", s.min}, {"median", s.median}, {"max", s.max}};
}

json finiteOrNull(double value) {
  return std::isfinite(value) ? json(value) : json(nullptr);
}

json runJson(const RunRecord& run) {
  json steps = json::object();
  for (int step = 0; step < kLuStepCount; ++step) {
    steps[kLuStepKeys[step]] = run.stepNanoseconds[step];
  }
  steps["solves"] = run.solveNanoseconds;
  json record{{"timed_ns", run.timedNanoseconds},
              {"gflops", run.gflops},
              {"steps_ns", steps},
              {"residual", finiteOrNull(run.residual)},
              {"residual_passed", residualPassed(run.residual)},
              {"singular_columns", run.singularColumns},
              {"fingerprint", formatFingerprint(run.fingerprint)}};
  if (run.lapack) {
    record["lapack"] = json{{"timed_ns", run.lapack->timedNanoseconds},
                            {"gflops", run.lapack->gflops},
                            {"residual", finiteOrNull(run.lapack->residual)},
                            {"info", run.lapack->info}};
  }
  return record;
}

// The members of a JSON object as dump(2) writes them, without the enclosing braces, each line
// indented by extra further spaces.
std::string objectMembers(const json& object, int extra) {
  const std::string text = object.dump(2);
  // "{\n" ... "\n}"; an empty object is "{}".
  if (text.size() <= 2) return {};
  const std::string inner = text.substr(2, text.size() - 4);
  const std::string indent(static_cast<std::size_t>(extra), ' ');
  std::string out = indent;
  for (char c : inner) {
    out += c;
    if (c == '\n') out += indent;
  }
  return out;
}

class JsonReporter : public Reporter {
 public:
  void context(const SweepContext& context, const TextSink&) override { context_ = context; }

  void combination(const CombinationRecord& record, const Summary& s,
                   const TextSink& sink) override {
    const RunOptions& o = record.options;
    const bool listed = context_.options.listed();
    json steps = json::object();
    for (int step = 0; step <= kLuStepCount; ++step) {
      json entry = spreadJson(step < kLuStepCount ? s.steps[step] : s.solves);
      entry["share_of_median"] = s.shareOfMedian[step];
      steps[step < kLuStepCount ? kLuStepKeys[step] : "solves"] = entry;
    }
    json referenceJson = nullptr;
    if (record.reference != ReferenceCheck::kNotRequested) {
      referenceJson = record.reference == ReferenceCheck::kIdentical ? "identical" : "differs";
    }
    const json head{
        {"n", o.n},
        {"block", o.block},
        {"seed", o.seed},
        {"seed_from_clock", !o.seedGiven},
        {"repeat", o.repeat},
        {"warm_up", o.warmUp},
        {"vector_path", kVectorPathName},
        {"vector_doubles", kDoubleLanes},
        {"compiler", compilerDescription()},
        {"flops_per_run", hplFlops(o.n)},
    };
    json lapackJson = nullptr;
    if (s.lapack) {
      lapackJson = json{
          {"library", record.lapackLibrary},
          {"timed_ns", spreadJson(s.lapack->timedNanoseconds)},
          {"gflops", spreadJson(s.lapack->gflops)},
          {"residual_max", finiteOrNull(s.lapack->residualMax)},
          {"lubench_over_lapack",
           s.lapack->lubenchOverLapack > 0 ? json(s.lapack->lubenchOverLapack) : json(nullptr)},
      };
    }
    const std::optional<PeakMeasurement>& peak = context_.peak;
    const json tail{
        {"timed_ns", spreadJson(s.timedNanoseconds)},
        {"gflops", spreadJson(s.gflops)},
        {"steps_ns", steps},
        {"residual_bound", kResidualBound},
        {"fingerprint", formatFingerprint(s.fingerprint)},
        {"fingerprints_agree", s.fingerprintsAgree},
        {"reference_check", referenceJson},
        {"peak_gflops", peak ? json(peak->gflops) : json(nullptr)},
        {"fused_peak_gflops", peak ? json(peak->fusedGflops) : json(nullptr)},
        {"efficiency", s.efficiency ? json(*s.efficiency) : json(nullptr)},
        {"lapack", lapackJson},
        {"passed", s.passed},
    };
    // The runs one at a time, between the members before and after them.
    const std::string before = listed ? (written_ == 0 ? "[\n" : ",\n") : "";
    sink(before + "{\n" + objectMembers(head, 0) + ",\n  \"runs\": [");
    for (std::size_t i = 0; i < record.runs.size(); ++i) {
      sink((i == 0 ? "\n    {\n" : ",\n    {\n") + objectMembers(runJson(record.runs[i]), 4) +
           "\n    }");
    }
    sink(record.runs.empty() ? "],\n" : "\n  ],\n");
    sink(objectMembers(tail, 0) + (listed ? "\n}" : "\n}\n"));
    ++written_;
  }

  void end(const SweepEnd& end, const TextSink& sink) const override {
    const bool listed = context_.options.listed();
    std::string out;
    if (end.kind != SweepEnd::Kind::kComplete && (listed || written_ == 0)) {
      const json marker{
          {"interrupted", true},
          {"cause", end.kind == SweepEnd::Kind::kInterrupted ? signalName(end.signal) : "error"},
          {"finished_combinations", end.finished},
          {"combinations", end.total}};
      out += listed ? (written_ == 0 ? "[\n" : ",\n") : "";
      out += marker.dump(2);
      out += listed ? "" : "\n";
    }
    if (listed) out += written_ == 0 && out.empty() ? "[]\n" : "\n]\n";
    sink(out);
  }

 private:
  SweepContext context_;
  int written_ = 0;
};

}  // namespace

std::unique_ptr<Reporter> makeJsonReporter() {
  return std::make_unique<JsonReporter>();
}
