#include <cmath>
#include <nlohmann/json.hpp>

#include "ab.hpp"
#include "compare.hpp"
#include "interruption.hpp"
#include "text_format.hpp"

// How lubench-report ab says what it found: a text or Markdown report, or the session's JSON
// document.

namespace {

using json = nlohmann::ordered_json;

const char* programText(AbProgram program) {
  return program == AbProgram::kReport ? "lubench-report" : "plain";
}

json parsedOrNull(const std::string& text) {
  json parsed = json::parse(text, nullptr, false);
  return parsed.is_discarded() ? json(nullptr) : parsed;
}

// "GCC 12.2.0, -O3 ..., avx512, kernel k1, commit 1a2b3c4d5e6f" from a side's context and the
// path and kernel its first run chose (an older build's one vector path where the run does not
// say); "plain benchmark" without a context.
std::string buildLine(const std::string& contextText, const AbRun* first) {
  const json context = parsedOrNull(contextText);
  if (!context.is_object()) return "plain benchmark: only its timed region is known";
  const auto text = [&](const char* key) -> std::string {
    const auto found = context.find(key);
    if (found == context.end() || found->is_null()) return "";
    return found->is_string() ? found->get<std::string>() : jsonText(*found);
  };
  std::string out = text("compiler") + " " + text("compiler_version");
  const bool ranKnown = first != nullptr && !first->vectorPath.empty();
  for (const std::string& part :
       {text("compile_flags"), ranKnown ? first->vectorPath : text("vector_path")}) {
    if (!part.empty()) out += ", " + part;
  }
  if (first != nullptr && !first->kernel.empty()) out += ", kernel " + first->kernel;
  if (const std::string commit = text("git_commit"); !commit.empty()) {
    out += ", commit " + commit.substr(0, 12);
  }
  return printable(out);
}

std::string ratioText(const PairedRatio& r) {
  if (!r.interval) return formatText("%.4f [no interval]", r.median);
  return formatText("%.4f [%.4f, %.4f]", r.median, r.interval->low, r.interval->high);
}

bool fingerprintsCompared(const AbSessionRecord& s) {
  return s.oldProgram == AbProgram::kReport && s.newProgram == AbProgram::kReport;
}

std::string orderText() { return "ABBA (old first, then new first, alternately)"; }

std::string textOrMarkdown(const AbReport& report, bool markdown) {
  const AbSessionRecord& s = report.session;
  std::string out = markdown ? "## lubench-report ab\n\n" : "lubench-report ab\n";
  const std::string item = markdown ? "- " : "  ";
  const AbPair* first = s.combinations.empty() || s.combinations.front().pairs.empty()
                            ? nullptr
                            : &s.combinations.front().pairs.front();
  out += item + "old: " + printable(s.oldExecutable) + " (" +
         buildLine(s.oldContextText, first != nullptr ? &first->oldRun : nullptr) + ")\n";
  out += item + "new: " + printable(s.newExecutable) + " (" +
         buildLine(s.newContextText, first != nullptr ? &first->newRun : nullptr) + ")\n";
  // The builds' identities differ in what they hold, not only in what they chose here.
  if (fingerprintsCompared(s) && s.oldHeldPaths != s.newHeldPaths) {
    out += item + "old holds: " + printable(s.oldHeldPaths.empty() ? "?" : s.oldHeldPaths) + "\n";
    out += item + "new holds: " + printable(s.newHeldPaths.empty() ? "?" : s.newHeldPaths) + "\n";
  }
  out += item + formatText("%d pairs per combination, in the order %s; each run its own process "
                           "on CPU %d",
                           s.pairsWanted, orderText().c_str(), s.cpu);
  out += fingerprintsCompared(s) ? ", one untimed warm-up run, then one timed run\n"
                                 : "; the plain benchmark seeds its matrix from the clock, so "
                                   "fingerprints and steps are not compared\n";
  out += item + formatText("seed %u%s\n", s.seed,
                           s.seedFromClock ? " (from the calendar clock)" : "");
  // The path and kernel asked for, and which sides could be given them.
  for (const auto& [option, value] :
       {std::pair{"--vector-path", &s.vectorPathOption}, std::pair{"--kernel", &s.kernelOption}}) {
    if (*value == "auto") continue;
    const char* given = s.oldTakesKernel && s.newTakesKernel ? "both builds"
                        : s.oldTakesKernel                   ? "the old build only"
                        : s.newTakesKernel                   ? "the new build only"
                                                             : "neither build";
    out += item + std::string(option) + " " + printable(*value) + ": passed to " + given +
           (s.oldTakesKernel && s.newTakesKernel
                ? "\n"
                : " (a plain benchmark, or a build whose --help lists no --vector-path and "
                  "--kernel, makes its own choice)\n");
  }
  out += "\n";
  if (markdown) {
    out +=
        "| n | block | pairs | old median (ns) | new median (ns) | new / old | interval (≥ 95 %) | "
        "verdict, by the interval | Wilcoxon p |\n|---|---|---|---|---|---|---|---|---|\n";
  }
  for (std::size_t i = 0; i < report.summary.combinations.size(); ++i) {
    const AbCombinationSummary& c = report.summary.combinations[i];
    const AbCombinationRecord& record = s.combinations[i];
    if (markdown) {
      const std::string interval =
          c.ratio.interval
              ? formatText("%.4f – %.4f", c.ratio.interval->low, c.ratio.interval->high)
              : "none";
      out += formatText("| %d | %d | %d | %.0f | %.0f | %.4f | %s | %s | %s (%s) |\n", c.n,
                        c.block, c.pairs, c.oldMedian, c.newMedian, c.ratio.median,
                        interval.c_str(), verdictText(c.ratio.verdict),
                        pValueText(c.ratio.test.pValue, kSignificance).c_str(),
                        c.ratio.test.exact ? "exact" : "approximate");
      continue;
    }
    out += formatText("n %d, block %d: %d pair%s\n", c.n, c.block, c.pairs,
                      c.pairs == 1 ? "" : "s");
    out += formatText("  medians: old %.0f ns, new %.0f ns\n", c.oldMedian, c.newMedian);
    out += "  new / old per pair: " + ratioText(c.ratio);
    // The verdict is the interval's; the signed-rank test is a separate opinion beside it.
    if (c.ratio.interval) {
      out += formatText(" (median, %.1f %% interval): %s, by the interval\n",
                        100 * c.ratio.interval->confidence, verdictText(c.ratio.verdict));
    } else {
      out += formatText(": %s, too few pairs for an interval\n", verdictText(c.ratio.verdict));
    }
    out += formatText("  Wilcoxon signed-rank p = %s (%s), not the verdict's basis\n",
                      pValueText(c.ratio.test.pValue, kSignificance).c_str(),
                      c.ratio.test.exact ? "exact" : "normal approximation");
    if (c.independent) {
      out += formatText("  as independent samples: %.4f [%.4f, %.4f] (%.1f %% interval)",
                        c.independent->estimate, c.independent->low, c.independent->high,
                        100 * c.independent->confidence);
      if (!c.independent->reachesWanted) {
        out += formatText(": too few pairs finished for %.0f %%, the widest interval covers only "
                          "this\n",
                          100 * (c.ratio.interval ? c.ratio.interval->confidence : 0.95));
      } else if (c.ratio.interval) {
        out += formatText(", width %.4f against %.4f paired at the same coverage\n",
                          c.independent->high - c.independent->low,
                          c.ratio.interval->high - c.ratio.interval->low);
      } else {
        out += "\n";
      }
    }
    out += formatText("  drift over the session: old %+.1f %%, new %+.1f %%\n",
                      100 * (c.oldDrift - 1), 100 * (c.newDrift - 1));
    if (!c.steps.empty()) {
      out += "  steps, new / old per pair:\n";
      for (const auto& [key, ratio] : c.steps) {
        out += formatText("    %-16s %s %s\n", printable(key).c_str(), ratioText(ratio).c_str(),
                          verdictText(ratio.verdict));
      }
    }
    if (fingerprintsCompared(s) && !record.pairs.empty()) {
      out += "  fingerprint: " + printable(record.pairs.front().oldRun.fingerprint) +
             " on both sides in every run\n";
    }
    for (const std::string& warning : c.warnings) out += "  warning: " + warning + "\n";
    out += "\n";
  }
  if (markdown) {
    out += "\n";
    for (const AbCombinationSummary& c : report.summary.combinations) {
      for (const std::string& warning : c.warnings) {
        out += formatText("- warning (n %d, block %d): ", c.n, c.block) + warning + "\n";
      }
    }
  }
  if (!report.summary.combinations.empty()) {
    out += formatText("geometric mean of the median pair ratios: %.4f (%+.1f %%)\n",
                      report.summary.geometricMeanRatio,
                      100 * (report.summary.geometricMeanRatio - 1));
  }
  const AbEnding& e = s.ending;
  if (e.fingerprintMismatch) {
    out += "FINGERPRINTS DIFFER: the same input gave different bytes: " +
           printable(*e.fingerprintMismatch) + "\n";
  }
  if (e.residualFailures > 0) {
    out += formatText("FAILED: %d run%s failed the residual check\n", e.residualFailures,
                      e.residualFailures == 1 ? "" : "s");
  }
  if (e.childFailure) out += "stopped: a run failed: " + printable(*e.childFailure) + "\n";
  if (e.signal != 0) out += std::string("stopped: interrupted by ") + signalName(e.signal) + "\n";
  if (e.signal != 0 || e.childFailure || e.fingerprintMismatch) {
    const std::size_t whole = s.wholeCombinations();
    out += formatText("finished: %zu of %d combinations", whole, s.combinationsWanted);
    out += s.combinations.size() > whole
               ? formatText(", and %zu pairs of the next\n", s.combinations.back().pairs.size())
               : std::string("\n");
  }
  return out;
}

json ratioJson(const PairedRatio& r) {
  return json{{"median", r.median},
              {"low", r.interval ? json(r.interval->low) : json(nullptr)},
              {"high", r.interval ? json(r.interval->high) : json(nullptr)},
              {"confidence", r.interval ? json(r.interval->confidence) : json(nullptr)},
              {"wilcoxon_p", r.test.pValue},
              {"wilcoxon_exact", r.test.exact},
              {"verdict", verdictText(r.verdict)}};
}

json runJson(const AbRun& run) {
  json steps = json::object();
  for (const auto& [key, ns] : run.stepNanoseconds) steps[key] = ns;
  return json{{"start_ns", run.startNanoseconds},
              {"timed_ns", run.timedNanoseconds},
              {"steps_ns", run.stepNanoseconds.empty() ? json(nullptr) : steps},
              {"fingerprint", run.fingerprint.empty() ? json(nullptr) : json(run.fingerprint)},
              {"residual_passed", !run.residualFailed},
              {"vector_path", run.vectorPath.empty() ? json(nullptr) : json(run.vectorPath)},
              {"kernel", run.kernel.empty() ? json(nullptr) : json(run.kernel)}};
}

std::string documentText(const AbReport& report) {
  const AbSessionRecord& s = report.session;
  json context = parsedOrNull(report.contextText);
  if (!context.is_object()) context = json::object();
  context["old_executable"] = s.oldExecutable;
  context["new_executable"] = s.newExecutable;
  context["old_program"] = programText(s.oldProgram);
  context["new_program"] = programText(s.newProgram);
  context["order"] = "ABBA";
  context["pairs"] = s.pairsWanted;
  context["timeout_seconds"] = s.timeoutSeconds;
  context["seed"] = s.seed;
  context["seed_from_clock"] = s.seedFromClock;
  context["vector_path_option"] = s.vectorPathOption;
  context["kernel_option"] = s.kernelOption;
  context["old_takes_kernel"] = s.oldTakesKernel;
  context["new_takes_kernel"] = s.newTakesKernel;
  context["fingerprints_compared"] = fingerprintsCompared(s);
  context["old"] = parsedOrNull(s.oldContextText);
  context["new"] = parsedOrNull(s.newContextText);
  json combinations = json::array();
  for (std::size_t i = 0; i < report.summary.combinations.size(); ++i) {
    const AbCombinationSummary& c = report.summary.combinations[i];
    const AbCombinationRecord& record = s.combinations[i];
    json pairs = json::array();
    for (const AbPair& pair : record.pairs) {
      pairs.push_back(json{{"first", pair.oldFirst ? "old" : "new"},
                           {"old", runJson(pair.oldRun)},
                           {"new", runJson(pair.newRun)}});
    }
    json steps = json::object();
    for (const auto& [key, ratio] : c.steps) steps[key] = ratioJson(ratio);
    json independent = nullptr;
    if (c.independent) {
      independent = json{{"estimate", c.independent->estimate},
                         {"low", c.independent->low},
                         {"high", c.independent->high},
                         {"confidence", c.independent->confidence},
                         {"reaches_wanted", c.independent->reachesWanted}};
    }
    combinations.push_back(json{{"n", c.n},
                                {"block", c.block},
                                {"seed", record.seed},
                                {"pairs", pairs},
                                {"old_median_ns", c.oldMedian},
                                {"new_median_ns", c.newMedian},
                                {"ratio", ratioJson(c.ratio)},
                                {"independent_ratio", independent},
                                {"steps", steps},
                                {"old_drift", c.oldDrift},
                                {"new_drift", c.newDrift},
                                {"warnings", c.warnings}});
  }
  const AbEnding& e = s.ending;
  json interruptedBy = nullptr;
  if (e.signal != 0) interruptedBy = signalName(e.signal);
  else if (e.childFailure || e.fingerprintMismatch) interruptedBy = "error";
  const auto orNull = [](const std::optional<std::string>& text) {
    return text ? json(*text) : json(nullptr);
  };
  const json document{
      {"document_kind", "ab_session"},
      {"context", context},
      {"combinations", combinations},
      {"geometric_mean_ratio", report.summary.combinations.empty()
                                   ? json(nullptr)
                                   : json(report.summary.geometricMeanRatio)},
      {"fingerprint_mismatch", orNull(e.fingerprintMismatch)},
      {"child_failure", orNull(e.childFailure)},
      {"residual_failures", e.residualFailures},
      {"interrupted", !interruptedBy.is_null()},
      {"interrupted_by", interruptedBy},
      {"finished_combinations", s.wholeCombinations()},
      {"combinations_wanted", s.combinationsWanted}};
  return jsonText(document, 2) + "\n";
}

}  // namespace

std::string formatAb(const AbReport& report, const std::string& format) {
  if (format == "json") return documentText(report);
  return textOrMarkdown(report, format == "md");
}
