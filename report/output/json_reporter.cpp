#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "interruption.hpp"
#include "json_context.hpp"
#include "labels.hpp"
#include "reporter.hpp"
#include "text_format.hpp"
#include "verification.hpp"

// The report as JSON: {"context": {...}, "benchmarks": [...], "interrupted": ...}, each
// benchmark (one combination of order, block and kernel) written as its combination finishes, so
// that a sweep stopped early still leaves a valid document, closed with the reason.

namespace {

using json = nlohmann::ordered_json;

json spreadJson(const Spread& s) {
  return json{{"min", s.min}, {"median", s.median}, {"max", s.max}};
}

json finiteOrNull(double value) {
  return std::isfinite(value) ? json(value) : json(nullptr);
}

json distributionJson(const Distribution& d) {
  json out = spreadJson(d.spread);
  out["mean"] = d.mean;
  out["stddev"] = d.stddev;
  out["cv"] = d.cv;
  out["median_ci"] = d.medianInterval ? json{{"low", d.medianInterval->low},
                                             {"high", d.medianInterval->high},
                                             {"confidence", d.medianInterval->confidence}}
                                      : json(nullptr);
  out["outliers"] = d.outliers;
  return out;
}

json nameOrNull(const std::string& name) {
  return name.empty() ? json(nullptr) : json(name);
}

json optionalJson(const std::optional<int>& value) {
  return value ? json(*value) : json(nullptr);
}

// The copies run together: beside the single copy's runs, which stay in "runs".
json copiesJson(const CombinationRecord& record, const CopiesSummary& c, long long sweepStart) {
  json perCopy = json::array();
  for (std::size_t i = 0; i < c.copies.size(); ++i) {
    const CopySummary& copy = c.copies[i];
    json runs = json::array();
    for (const RunRecord& run : record.copies[i].runs) {
      runs.push_back(json{{"start_ns", run.startNanoseconds - sweepStart},
                          {"end_ns", run.startNanoseconds + run.timedNanoseconds - sweepStart},
                          {"timed_ns", run.timedNanoseconds},
                          {"gflops", run.gflops},
                          {"residual", finiteOrNull(run.residual)},
                          {"fingerprint", formatFingerprint(run.fingerprint)}});
    }
    const char* signal = copy.signal != 0 ? sigabbrev_np(copy.signal) : nullptr;
    // A copy that did not finish has no figures and no say on the fingerprint: null, not 0.
    const bool done = copy.finished;
    perCopy.push_back(json{
        {"cpu", copy.place.cpu},
        {"core", optionalJson(copy.place.core)},
        {"package", optionalJson(copy.place.package)},
        {"numa_node", optionalJson(copy.place.node)},
        {"runs", runs},
        {"median_timed_ns", done ? json(copy.timed.median) : json(nullptr)},
        {"median_gflops", done ? json(copy.medianGflops) : json(nullptr)},
        {"fingerprint", done || !runs.empty() ? json(formatFingerprint(copy.fingerprint))
                                              : json(nullptr)},
        {"agrees", done ? json(copy.agrees) : json(nullptr)},
        {"finished", done},
        {"signal", signal != nullptr ? json(std::string("SIG") + signal) : json(nullptr)},
        {"exit_status", copy.signal != 0 ? json(nullptr) : json(copy.exitStatus)},
        {"died", done ? json(nullptr) : json(copy.died)}});
  }
  const auto numberOrNull = [](const std::optional<double>& value) {
    return value ? json(*value) : json(nullptr);
  };
  return json{{"count", c.copies.size()},
              {"finished_count", c.finishedCount()},
              {"total_gflops", numberOrNull(c.totalGflops)},
              {"contention_ratio", numberOrNull(c.contentionRatio)},
              {"slowest_over_median", numberOrNull(c.slowestOverMedian)},
              {"overlap", numberOrNull(c.overlap)},
              {"per_copy", perCopy},
              {"dissents", c.dissents},
              {"deaths", c.deaths},
              {"warnings", c.warnings}};
}

json kernelTrialsJson(const std::vector<KernelTrialRecord>& trials) {
  json all = json::array();
  for (const KernelTrialRecord& trial : trials) {
    json candidates = json::array();
    for (const KernelTrialRecord::Candidate& c : trial.candidates) {
      candidates.push_back(
          json{{"kernel", c.kernel}, {"median_row_ns", c.medianNanoseconds}, {"gflops", c.gflops}});
    }
    all.push_back(json{{"order", trial.order},
                       {"rows_each", trial.rowsEach},
                       {"row_columns", trial.columns},
                       {"depth", trial.depth},
                       {"candidates", candidates},
                       {"chosen", trial.chosen}});
  }
  return all;
}

// Trial by trial over the combination's runs: the order, how often each kernel was chosen, each
// candidate's median rate.
json trialSummaryJson(const std::vector<KernelTrialSummary>& trials) {
  json all = json::array();
  for (const KernelTrialSummary& trial : trials) {
    json chosen = json::object();
    for (const auto& [kernel, times] : trial.chosen) chosen[kernel] = times;
    json rates = json::object();
    for (const auto& [kernel, gflops] : trial.gflops) rates[kernel] = gflops;
    all.push_back(json{{"order", trial.order},
                       {"runs", trial.runs},
                       {"chosen", chosen},
                       {"median_gflops", rates}});
  }
  return all;
}

json runJson(const RunRecord& run, long long sweepStart) {
  json steps = json::object();
  for (int step = 0; step < kLuStepCount; ++step) {
    steps[kLuStepKeys[step]] = run.stepNanoseconds[step];
  }
  steps[kSolvesKey] = run.solveNanoseconds;
  json record{{"start_ns", run.startNanoseconds - sweepStart},
              {"timed_ns", run.timedNanoseconds},
              {"gflops", run.gflops},
              {"steps_ns", steps},
              {"residual", finiteOrNull(run.residual)},
              {"residual_passed", residualPassed(run.residual)},
              {"singular_columns", run.singularColumns},
              {"fingerprint", formatFingerprint(run.fingerprint)},
              {"vector_path", nameOrNull(run.vectorPath)},
              {"kernel", nameOrNull(run.kernel)},
              {"kernel_choice", nameOrNull(run.kernelChoice)},
              {"kernel_trials", kernelTrialsJson(run.kernelTrials)}};
  if (run.lapack) {
    record["lapack"] = json{{"timed_ns", run.lapack->timedNanoseconds},
                            {"gflops", run.lapack->gflops},
                            {"residual", finiteOrNull(run.lapack->residual)},
                            {"info", run.lapack->info}};
  }
  return record;
}

// The members of a JSON object, one a line, each "key": value indented by extra + 2 spaces and
// the value's own lines by as much more, without the enclosing braces: the document is written
// piece by piece, so its objects are opened and closed by the reporter itself.
std::string objectMembers(const json& object, int extra) {
  const std::string indent(static_cast<std::size_t>(extra) + 2, ' ');
  std::string out;
  for (auto member = object.begin(); member != object.end(); ++member) {
    std::string value = jsonText(member.value(), 2);
    for (std::size_t at = value.find('\n'); at != std::string::npos;
         at = value.find('\n', at + 1)) {
      value.insert(at + 1, indent);
    }
    out += (out.empty() ? "" : ",\n") + indent + jsonText(json(member.key())) + ": " + value;
  }
  return out;
}

class JsonReporter : public Reporter {
 public:
  void context(const SweepContext& context, const TextSink& sink) override {
    context_ = context;
    sink("{\n  \"document_kind\": \"run\",\n  \"context\": {\n" + objectMembers(contextJson(context), 2) +
         "\n  },\n  \"benchmarks\": [");
  }

  void combination(const CombinationRecord& record, const Summary& s,
                   const TextSink& sink) override {
    const RunOptions& o = record.options;
    json steps = json::object();
    for (int step = 0; step <= kLuStepCount; ++step) {
      json entry = spreadJson(step < kLuStepCount ? s.steps[step] : s.solves);
      entry["share_of_median"] = s.shareOfMedian[step];
      steps[step < kLuStepCount ? kLuStepKeys[step] : kSolvesKey] = entry;
    }
    json referenceJson = nullptr;
    if (record.reference != ReferenceCheck::kNotRequested) {
      referenceJson = referenceCheckText(record.reference);
    }
    // Every run of a combination runs on the same path and kernel: the first run's say which.
    const PathAndKernel ran = ranOn(record);
    const json head{
        {"n", o.n},
        {"block", o.block},
        {"seed", o.seed},
        {"seed_from_clock", !o.seedGiven},
        {"repeat", o.repeat},
        {"warm_up", o.warmUp},
        {"vector_path", nameOrNull(ran.path)},
        {"vector_doubles", ran.doubles},
        {"kernel_option", o.kernel},
        {"kernel", nameOrNull(ran.kernel)},
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
        {"timed_ns", distributionJson(s.timed)},
        {"gflops", spreadJson(s.gflops)},
        {"steps_ns", steps},
        {"residual_bound", kResidualBound},
        {"fingerprint", formatFingerprint(s.fingerprint)},
        {"fingerprints_agree", s.fingerprintsAgree},
        {"reference_check", referenceJson},
        {"peak_gflops", peak ? json(peak->gflops) : json(nullptr)},
        {"fused_peak_gflops", peak ? json(peak->fusedGflops) : json(nullptr)},
        {"efficiency", s.efficiency ? json(*s.efficiency) : json(nullptr)},
        {"efficiency_basis", kEfficiencyBasis},
        {"expectation", bandJson(s.expectation)},
        {"lapack", lapackJson},
        {"involuntary_context_switches", record.quietness.involuntarySwitches},
        {"stolen_seconds",
         record.quietness.stolenSeconds ? json(*record.quietness.stolenSeconds) : json(nullptr)},
        {"warnings", s.warnings},
        {"copies", s.copies ? copiesJson(record, *s.copies, context_.startNanoseconds)
                            : json(nullptr)},
        {"kernel_choice", nameOrNull(record.runs.front().kernelChoice)},
        {"kernel_trials", trialSummaryJson(s.kernelTrials)},
        {"passed", s.passed},
    };
    // The runs one at a time, between the members before and after them.
    sink(std::string(written_ == 0 ? "\n" : ",\n") + "    {\n" + objectMembers(head, 4) +
         ",\n      \"runs\": [");
    for (std::size_t i = 0; i < record.runs.size(); ++i) {
      sink((i == 0 ? "\n        {\n" : ",\n        {\n") +
           objectMembers(runJson(record.runs[i], context_.startNanoseconds), 8) + "\n        }");
    }
    sink(record.runs.empty() ? "],\n" : "\n      ],\n");
    sink(objectMembers(tail, 4) + "\n    }");
    ++written_;
  }

  void end(const SweepEnd& end, const TextSink& sink) const override {
    json interruptedBy = nullptr;
    if (end.kind == SweepEnd::Kind::kInterrupted) interruptedBy = signalName(end.signal);
    if (end.kind == SweepEnd::Kind::kFailed) interruptedBy = "error";
    const json closing{{"interrupted", end.kind != SweepEnd::Kind::kComplete},
                       {"interrupted_by", interruptedBy},
                       {"finished_combinations", end.finished},
                       {"combinations", end.total}};
    sink(std::string(written_ == 0 ? "],\n" : "\n  ],\n") + objectMembers(closing, 0) + "\n}\n");
  }

 private:
  SweepContext context_;
  int written_ = 0;
};

}  // namespace

std::unique_ptr<Reporter> makeJsonReporter() {
  return std::make_unique<JsonReporter>();
}
