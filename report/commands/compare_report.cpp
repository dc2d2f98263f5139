#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <nlohmann/json.hpp>

#include "command_line.hpp"
#include "compare.hpp"
#include "machine_context.hpp"
#include "document_reader.hpp"
#include "output.hpp"
#include "subcommand_formats.hpp"
#include "program.hpp"
#include "text_format.hpp"

// How lubench-report compare says what it found, and its command line.

namespace {

// A per cent as given: 10, 2.5.
std::string percentText(double percent) { return formatText("%g", percent); }

std::string textOrMarkdown(const Comparison& c, bool markdown) {
  const std::string oldName = printable(c.oldPath), newName = printable(c.newPath);
  std::string out = (markdown ? "## " : "") + newName + " against " + oldName + "\n\n";
  for (const std::string& mismatch : c.fingerprintMismatches) {
    out += "FINGERPRINTS DIFFER: the same input gave different bytes (a build or machine fault): " +
           printable(mismatch) + "\n";
  }
  if (c.contextDifferences.empty()) {
    out += "context: the same machine and build facts\n";
  } else {
    out += "context differences:\n";
    for (const ContextDifference& d : c.contextDifferences) {
      out += (markdown ? "- " : "  ") + d.key + ": " + printable(d.oldValue) + " -> " +
             printable(d.newValue) + "\n";
    }
  }
  if (!c.ranDifferences.empty()) {
    out += "ran on other vector paths or kernels (old -> new):\n";
    for (const std::string& d : c.ranDifferences) out += (markdown ? "- " : "  ") + d + "\n";
  }
  out += "\n";
  // A kernel column when a kernel was asked for: the rows of one n and block differ in it.
  const bool kernels = std::any_of(c.rows.begin(), c.rows.end(), [](const ComparedRow& row) {
    return row.kernelOption != "auto";
  });
  if (markdown) {
    out += std::string("| n | block | ") + (kernels ? "kernel | " : "") +
           "old median (ns) | new median (ns) | change | shift | p-value | runs | verdict |\n" +
           "|---|---|---|---|---|---|---|---|---|" + (kernels ? "---|" : "") + "\n";
  } else {
    out += formatText("%7s %7s ", "n", "b") + (kernels ? formatText("%-18s ", "kernel") : "") +
           formatText("%16s %16s %9s %9s %8s %9s  %s\n", "old median (ns)", "new median (ns)",
                      "change", "shift", "p-value", "runs", "verdict");
  }
  bool anyApproximate = false, anyExact = false;
  for (const ComparedRow& row : c.rows) {
    const std::string runs = std::to_string(row.oldRuns) + "/" + std::to_string(row.newRuns);
    // An approximate p-value is marked ~: it can be further off with few runs.
    const std::string p = (row.pExact ? "" : "~") + pValueText(row.pValue, kSignificance);
    (row.pExact ? anyExact : anyApproximate) = true;
    // The kernel's name comes from a document: in a Markdown cell a '|' would end the cell.
    const std::string kernel =
        markdown ? markdownCell(row.kernelOption) : printable(row.kernelOption);
    out += formatText(markdown ? "| %d | %d | " : "%7d %7d ", row.n, row.block);
    if (kernels) out += formatText(markdown ? "%s | " : "%-18s ", kernel.c_str());
    out += formatText(markdown ? "%.0f | %.0f | %+.1f%% | %+.1f%% | %s | %s | %s |\n"
                               : "%16.0f %16.0f %+8.1f%% %+8.1f%% %8s %9s  %s\n",
                      row.oldMedian, row.newMedian, 100 * row.change, 100 * row.shiftShare,
                      p.c_str(), runs.c_str(),
                      row.withinNoise ? "same (within the noise floor)" : verdictText(row.verdict));
  }
  out += "\np-values: ";
  if (!anyApproximate) {
    out += "exact (the distribution of U given the ties)\n";
  } else if (!anyExact) {
    out += "~ approximate (normal approximation with the tie correction)\n";
  } else {
    out += "exact (the distribution of U given the ties), ~ approximate (normal approximation)\n";
  }
  out += formatText("noise floor: %s %% (--noise): a significant shift no larger is called the "
                    "same, since sessions of one build differ that much; to compare two builds, "
                    "use lubench-report ab (both alternating in one session)\n",
                    percentText(c.noisePercent).c_str());
  out += formatText("geometric mean of new / old median times: %.3f (%+.1f %%)\n",
                    c.geometricMeanRatio, 100 * (c.geometricMeanRatio - 1));
  for (const std::string& name : c.onlyInOld) out += "only in " + oldName + ": " + name + "\n";
  for (const std::string& name : c.onlyInNew) out += "only in " + newName + ": " + name + "\n";
  for (const std::string& warning : c.warnings) out += "warning: " + printable(warning) + "\n";
  return out;
}

// A side's context, as its document held it; null when there is none.
nlohmann::ordered_json contextJson(const std::string& text) {
  if (text.empty()) return nullptr;
  // The text is the reader's own rendering of an object, so it parses; anything else is null.
  nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(text, nullptr, false);
  return parsed.is_object() ? parsed : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json asJson(const Comparison& c) {
  using json = nlohmann::ordered_json;
  const auto nameOrNull = [](const std::string& name) {
    return name.empty() ? json(nullptr) : json(name);
  };
  json differences = json::array();
  for (const ContextDifference& d : c.contextDifferences) {
    differences.push_back(json{{"key", d.key}, {"old", d.oldValue}, {"new", d.newValue}});
  }
  json rows = json::array();
  for (const ComparedRow& row : c.rows) {
    rows.push_back(json{{"n", row.n},
                        {"block", row.block},
                        {"kernel_option", row.kernelOption},
                        {"old_seed", row.oldSeed},
                        {"new_seed", row.newSeed},
                        {"old_vector_path", nameOrNull(row.oldPath)},
                        {"old_kernel", nameOrNull(row.oldKernel)},
                        {"new_vector_path", nameOrNull(row.newPath)},
                        {"new_kernel", nameOrNull(row.newKernel)},
                        {"old_median_ns", row.oldMedian},
                        {"new_median_ns", row.newMedian},
                        {"change", row.change},
                        {"shift_ns", row.shift},
                        {"shift", row.shiftShare},
                        {"p_value", row.pValue},
                        {"p_exact", row.pExact},
                        {"old_runs", row.oldRuns},
                        {"new_runs", row.newRuns},
                        {"verdict", verdictText(row.verdict)},
                        {"within_noise", row.withinNoise},
                        {"ratio_estimate", row.ratio ? json(row.ratio->estimate) : json(nullptr)},
                        {"ratio_low", row.ratio ? json(row.ratio->low) : json(nullptr)},
                        {"ratio_high", row.ratio ? json(row.ratio->high) : json(nullptr)},
                        {"ratio_confidence",
                         row.ratio ? json(row.ratio->confidence) : json(nullptr)}});
  }
  return json{{"old", c.oldPath},
              {"new", c.newPath},
              {"context_differences", differences},
              {"fingerprint_mismatches", c.fingerprintMismatches},
              {"ran_differences", c.ranDifferences},
              {"rows", rows},
              {"noise_floor_percent", c.noisePercent},
              {"geometric_mean_ratio", c.geometricMeanRatio},
              {"only_in_old", c.onlyInOld},
              {"only_in_new", c.onlyInNew},
              {"warnings", c.warnings},
              {"old_context", contextJson(c.oldContext)},
              {"new_context", contextJson(c.newContext)}};
}

}  // namespace

std::string formatComparisons(const std::vector<Comparison>& comparisons,
                              const std::string& formatName, const std::string& date) {
  if (formatName == "json") {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const Comparison& c : comparisons) all.push_back(asJson(c));
    return jsonText(nlohmann::ordered_json{{"document_kind", "comparison"},
                                           {"date", date.empty() ? nlohmann::ordered_json(nullptr)
                                                                 : nlohmann::ordered_json(date)},
                                           {"comparisons", all}},
                    2) +
           "\n";
  }
  std::string out;
  for (std::size_t i = 0; i < comparisons.size(); ++i) {
    out += (i == 0 ? "" : "\n") + textOrMarkdown(comparisons[i], formatName == "md");
  }
  return out;
}

CompareCommandLine parseCompareCommandLine(int argc, char** argv) {
  CLI::App app{
      "Compares saved lubench-report --json documents: each later file against the "
      "first, combination by combination (same n, block and --kernel), with the Mann-Whitney U "
      "test; the direction and size of a change is the Hodges-Lehmann shift (the median "
      "of every difference new - old), and a change is called only beyond the noise between "
      "sessions (--noise). Saved runs come from separate sessions: to compare two builds, use "
      "lubench-report ab, which alternates them in one. Status 3 when the same n, block and seed gave "
      "different fingerprints; 4 with --fail-above when a combination is significantly "
      "slower by a shift of more than PCT per cent of its old median (as printed, to a tenth "
      "of a per cent).",
      "lubench-report compare"};
  app.option_defaults()->disable_flag_override();
  CompareCommandLine result;
  std::string failAbove, noise;
  app.add_option("files", result.paths, "OLD.json NEW.json [MORE.json ...]")
      ->required()
      ->expected(2, -1);
  addFormatOption(app, result.format, "the comparison");
  std::vector<std::string> outPaths;
  addOutOption(app, outPaths, "the comparison's JSON document", "never a file compared");
  app.add_option("--fail-above", failAbove,
                 "exit with status 4 when a combination is significantly slower by more than PCT "
                 "per cent (decimal digits with at most one point, 0 to 1000)")
      ->type_name("PCT")
      ->check(percentCheck());
  app.add_option("--noise", noise,
                 "the floor of noise between sessions: a significant shift of no more than PCT "
                 "per cent of the old median is called the same (default " +
                     percentText(kDefaultNoisePercent) +
                     ", what sessions of one build moved on a shared cloud guest; lower it only "
                     "where sessions of one build have been seen to agree more closely)")
      ->type_name("PCT")
      ->check(percentCheck());
  result.exitStatus = parseArguments(app, argc, argv, std::string(kProgram) + " compare");
  if (result.exitStatus) return result;
  if (!failAbove.empty()) result.failAbove = parseFailAbove(failAbove);
  if (!noise.empty()) result.noisePercent = *parseFailAbove(noise);
  SubcommandOuts outs = resolveSubcommandOuts(outPaths, result.paths, reportFormats(),
                                              std::string(kProgram) + " compare");
  if (outs.refused) {
    result.exitStatus = kStatusUsage;
    return result;
  }
  result.outs = std::move(outs.outs);
  if (result.failAbove && *result.failAbove < result.noisePercent) {
    std::fprintf(stderr,
                 "%s compare: --fail-above %s is below the noise floor of %s %% (--noise): "
                 "compare cannot tell a shift that small from the noise between sessions; give "
                 "a lower --noise where sessions of one build agree that closely, or gate two "
                 "builds with lubench-report ab\n",
                 kProgram, percentText(*result.failAbove).c_str(),
                 percentText(result.noisePercent).c_str());
    result.exitStatus = kStatusUsage;
  }
  return result;
}

int runCompare(int argc, char** argv) {
  const CompareCommandLine commandLine = parseCompareCommandLine(argc, argv);
  if (commandLine.exitStatus) return *commandLine.exitStatus;
  // Every file is read and every problem said before anything is compared.
  std::vector<SavedDocument> documents;
  std::vector<std::vector<std::string>> warnings;
  bool usable = true;
  for (const std::string& path : commandLine.paths) {
    // Memory that runs out (or a size in the data beyond any container's) ends the comparison
    // with one line: a usage error said before it goes first.
    const auto outOfMemory = [&] {
      std::fprintf(stderr, "%s compare: %s: out of memory while reading it\n", kProgram,
                   printable(path).c_str());
      return usable ? kStatusSystem : kStatusUsage;
    };
    DocumentReading reading;
    try {
      reading = readDocument(path);
    } catch (const std::bad_alloc&) {
      return outOfMemory();
    } catch (const std::length_error&) {
      return outOfMemory();
    }
    for (const std::string& problem : reading.problems) {
      std::fprintf(stderr, "%s compare: %s\n", kProgram, problem.c_str());
    }
    if (!reading.document) {
      usable = false;
      continue;
    }
    documents.push_back(std::move(*reading.document));
    warnings.push_back(std::move(reading.warnings));
  }
  if (!usable) return kStatusUsage;
  std::vector<Comparison> comparisons;
  for (std::size_t i = 1; i < documents.size(); ++i) {
    ComparisonResult result =
        compareDocuments(documents[0], documents[i], commandLine.noisePercent);
    if (!result.comparison) {
      std::fprintf(stderr, "%s compare: %s\n", kProgram, printable(result.error).c_str());
      return kStatusUsage;
    }
    // The documents' own warnings come first: what they leave out bears on every row.
    std::vector<std::string>& said = result.comparison->warnings;
    said.insert(said.begin(), warnings[i].begin(), warnings[i].end());
    said.insert(said.begin(), warnings[0].begin(), warnings[0].end());
    comparisons.push_back(std::move(*result.comparison));
  }
  const std::string date = isoDate();
  StandardOutput out(kProgram);
  out.write(formatComparisons(comparisons, commandLine.format, date));
  bool written = out.finish();
  written = writeOuts(
                commandLine.outs,
                [&](const std::string& format) { return formatComparisons(comparisons, format, date); },
                std::string(kProgram) + " compare",
                "the comparison was not written (no document compared was changed: run compare "
                "again)") &&
            written;
  const int status = comparisonStatus(comparisons, commandLine.failAbove);
  if (status == kStatusFingerprintMismatch) {
    std::fprintf(stderr, "%s compare: FINGERPRINTS DIFFER: the same input gave different bytes\n",
                 kProgram);
  }
  return written ? status : kStatusSystem;
}
