#include "run_reader.hpp"

#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>

#include "text_format.hpp"

namespace document_reading {

namespace {

// Keeps a run's message while fewer than the listed number are kept; counts it otherwise.
void keep(std::vector<std::pair<std::size_t, std::string>>& kept, std::size_t& unlisted,
          std::size_t index, std::string what) {
  if (kept.size() < static_cast<std::size_t>(kMaxProblemsPerFile)) {
    kept.emplace_back(index, std::move(what));
  } else {
    ++unlisted;
  }
}

// One run's step times: empty when they are missing, and after a warning when they are not an
// object of numbers of nanoseconds (they are a detail: the timed region stays usable without
// them).
std::map<std::string, double> stepsOf(const json& run, std::size_t index, RunsSoFar& runs) {
  std::map<std::string, double> steps;
  const auto found = run.find("steps_ns");
  if (found == run.end()) return {};
  if (!found->is_object()) {
    keep(runs.warnings, runs.unlistedWarnings, index,
         "step times left out: \"steps_ns\" is " + shown(*found));
    return {};
  }
  for (const auto& [key, value] : found->items()) {
    const double ns = value.is_number() ? value.get<double>() : std::nan("");
    if (!(ns >= 0 && ns <= kMaxTimedNanoseconds)) {
      keep(runs.warnings, runs.unlistedWarnings, index,
           "step times left out: \"" + printable(key) + "\" is " + shown(value));
      return {};
    }
    steps[key] = ns;
  }
  return steps;
}

// The copies of one combination; empty, after a warning, when they are not as written.
std::vector<SavedCopy> copiesOf(const json& benchmark, const std::string& where, Checker& check) {
  const auto found = benchmark.find("copies");
  if (found == benchmark.end() || found->is_null()) return {};
  std::vector<SavedCopy> copies;
  const auto leftOut = [&](const std::string& why) {
    check.warning(where + ": copies left out: " + why);
    return std::vector<SavedCopy>{};
  };
  const auto perCopy = found->is_object() ? found->find("per_copy") : found->end();
  if (perCopy == found->end() || !perCopy->is_array()) {
    return leftOut("\"copies\" has no array \"per_copy\"");
  }
  for (const json& copy : *perCopy) {
    if (!copy.is_object()) return leftOut("a copy is " + shown(copy));
    SavedCopy saved;
    const auto cpu = copy.find("cpu");
    if (cpu == copy.end() || !cpu->is_number_unsigned() || cpu->get<std::uint64_t>() > 1u << 20) {
      return leftOut("a copy has no \"cpu\" number");
    }
    saved.cpu = static_cast<int>(cpu->get<std::uint64_t>());
    const auto core = copy.find("core");
    if (core != copy.end() && core->is_number_unsigned() && core->get<std::uint64_t>() <= 1u << 20) {
      saved.core = static_cast<int>(core->get<std::uint64_t>());
    }
    const auto print = copy.find("fingerprint");
    if (print != copy.end() && isFingerprint(*print)) saved.fingerprint = print->get<std::string>();
    const auto median = copy.find("median_timed_ns");
    if (median != copy.end() && median->is_number()) {
      const double ns = median->get<double>();
      if (ns >= 0 && ns <= kMaxTimedNanoseconds) saved.medianNanoseconds = ns;
    }
    const auto finished = copy.find("finished");
    saved.finished = finished != copy.end() && finished->is_boolean() && finished->get<bool>() &&
                     saved.medianNanoseconds > 0 && !saved.fingerprint.empty();
    // How a dead copy ended; a document from before "died" names its signal alone.
    const auto died = copy.find("died"), signal = copy.find("signal");
    if (died != copy.end() && died->is_string()) saved.died = died->get<std::string>();
    if (saved.died.empty() && signal != copy.end() && signal->is_string()) {
      saved.died = "killed by " + signal->get<std::string>();
    }
    if (saved.died.size() > 200) saved.died.resize(200);  // a hostile document's megabytes
    copies.push_back(std::move(saved));
  }
  return copies;
}

// Says what readRun found wrong with the runs, each under where and its index.
void sayRuns(RunsSoFar& runs, const std::string& where, Checker& check) {
  const auto at = [&](std::size_t j) { return where + ", runs[" + std::to_string(j) + "]"; };
  for (const auto& [j, what] : runs.problems) check.problem(at(j), what);
  for (const auto& [j, what] : runs.warnings) check.warning(at(j) + ": " + what);
  check.countUnlisted(runs.unlistedProblems, runs.unlistedWarnings);
}

// A rate in GFLOP/s at key, read leniently: nothing when it is missing or null, and after a
// warning when it is not a finite number above 0 (a detail: the timed regions stay usable).
std::optional<double> rateAt(const json& object, const char* key, const std::string& where,
                             Checker& check) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  if (found->is_number() && found->get<double>() > 0 && std::isfinite(found->get<double>())) {
    return found->get<double>();
  }
  check.warning(where + formatText(": \"%s\" left out: ", key) + shown(*found) +
                " is not a rate in GFLOP/s");
  return std::nullopt;
}

}  // namespace

void readRun(const json& run, RunsSoFar& runs) {
  const std::size_t j = runs.count++;
  if (!run.is_object()) {
    keep(runs.problems, runs.unlistedProblems, j, "must be an object, not " + shown(run));
    return;
  }
  const auto time = run.find("timed_ns");
  if (time == run.end()) {
    keep(runs.problems, runs.unlistedProblems, j, "\"timed_ns\" is missing");
    return;
  }
  const double value = time->is_number() ? time->get<double>() : std::nan("");
  if (!(value > 0 && value <= kMaxTimedNanoseconds)) {
    keep(runs.problems, runs.unlistedProblems, j,
         "\"timed_ns\" must be a number of nanoseconds above 0 and at most 1e18, not " +
             shown(*time));
    return;
  }
  runs.times.push_back(value);
  runs.steps.push_back(stepsOf(run, j, runs));
}

void readBenchmark(const json& benchmark, std::size_t index, RunsSoFar& runsRead,
                   BenchmarksSoFar& so, Checker& check) {
  std::string where = "benchmarks[" + std::to_string(index) + "]";
  if (!benchmark.is_object()) {
    check.problem(where, "must be an object, not " + shown(benchmark));
    return;
  }
  const auto n = check.wholeNumber(benchmark, "n", 1, INT_MAX, where);
  const auto block = check.wholeNumber(benchmark, "block", 1, INT_MAX, where);
  // Part of the key: a value that is not a name is a problem, never a guess.
  std::optional<std::string> kernelOption = "auto";
  const auto option = benchmark.find("kernel_option");
  if (option != benchmark.end() && !option->is_null()) {
    kernelOption.reset();
    if (isName(*option)) {
      kernelOption = option->get<std::string>();
    } else {
      check.problem(where, "\"kernel_option\" must be \"auto\" or a tile kernel's name, not " +
                               shown(*option));
    }
  }
  if (n && block) {
    where += " (" + combinationName(int(*n), int(*block), kernelOption.value_or("auto")) + ")";
  }
  const auto seed = check.wholeNumber(benchmark, "seed", 0, UINT_MAX, where);
  const json* fingerprint = check.member(benchmark, "fingerprint", where);
  if (fingerprint != nullptr && !isFingerprint(*fingerprint)) {
    check.problem(where, "\"fingerprint\" must be 16 lower-case hexadecimal digits, not " +
                             shown(*fingerprint));
    fingerprint = nullptr;
  }
  const json* runs = check.member(benchmark, "runs", where);
  if (runs != nullptr && !runs->is_array()) {
    check.problem(where, "\"runs\" must be an array, not " + shown(*runs));
    runs = nullptr;
  }
  if (runs != nullptr) sayRuns(runsRead, where, check);
  if (!n || !block || !kernelOption) return;
  const auto [first, added] = so.seen.emplace(std::tuple{int(*n), int(*block), *kernelOption}, index);
  if (!added) {
    check.problem(where, "the combination appears again after benchmarks[" +
                             std::to_string(first->second) + "]");
    return;
  }
  if (runs != nullptr && runsRead.count == 0) {
    check.warning(where + " has no timed runs and is left out");
    return;
  }
  if (!seed || fingerprint == nullptr || runs == nullptr ||
      runsRead.times.size() != runsRead.count) {
    return;
  }
  SavedCombination saved{int(*n),
                         int(*block),
                         unsigned(*seed),
                         fingerprint->get<std::string>(),
                         std::move(runsRead.times),
                         std::move(runsRead.steps),
                         copiesOf(benchmark, where, check),
                         *kernelOption};
  saved.vectorPath = nameAt(benchmark, "vector_path", where, check);
  saved.kernel = nameAt(benchmark, "kernel", where, check);
  saved.peakGflops = rateAt(benchmark, "peak_gflops", where, check);
  const auto lapack = benchmark.find("lapack");
  if (lapack != benchmark.end() && lapack->is_object()) {
    const auto gflops = lapack->find("gflops");
    if (gflops != lapack->end() && gflops->is_object()) {
      saved.lapackGflops = rateAt(*gflops, "median", where + ": lapack.gflops", check);
    }
  }
  so.combinations.push_back(std::move(saved));
}

}  // namespace document_reading
