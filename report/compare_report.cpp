#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "compare.hpp"
#include "options.hpp"
#include "output.hpp"

// How lubench-report compare says what it found, and its command line.

namespace {

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

std::string textOrMarkdown(const Comparison& c, bool markdown) {
  std::string out = (markdown ? "## " : "") + c.newPath + " against " + c.oldPath + "\n\n";
  for (const std::string& mismatch : c.fingerprintMismatches) {
    out += "FINGERPRINTS DIFFER: the same input gave different bytes (a build or machine fault): " +
           mismatch + "\n";
  }
  if (c.contextDifferences.empty()) {
    out += "context: the same machine and build facts\n";
  } else {
    out += "context differences:\n";
    for (const ContextDifference& d : c.contextDifferences) {
      out += (markdown ? "- " : "  ") + d.key + ": " + d.oldValue + " -> " + d.newValue + "\n";
    }
  }
  out += "\n";
  if (markdown) {
    out += "| n | block | old median (ns) | new median (ns) | change | p-value | runs | verdict |\n"
           "|---|---|---|---|---|---|---|---|\n";
  } else {
    char header[160];
    std::snprintf(header, sizeof header, "%7s %7s %16s %16s %9s %8s %9s  %s\n", "n", "b",
                  "old median (ns)", "new median (ns)", "change", "p-value", "runs", "verdict");
    out += header;
  }
  for (const ComparedRow& row : c.rows) {
    const std::string runs = std::to_string(row.oldRuns) + "/" + std::to_string(row.newRuns);
    char line[200];
    if (markdown) {
      std::snprintf(line, sizeof line, "| %d | %d | %.0f | %.0f | %+.1f %% | %.3g | %s | %s |\n",
                    row.n, row.block, row.oldMedian, row.newMedian, 100 * row.change, row.pValue,
                    runs.c_str(), row.verdict.c_str());
    } else {
      std::snprintf(line, sizeof line, "%7d %7d %16.0f %16.0f %+8.1f%% %8.3g %9s  %s\n", row.n,
                    row.block, row.oldMedian, row.newMedian, 100 * row.change, row.pValue,
                    runs.c_str(), row.verdict.c_str());
    }
    out += line;
  }
  out += "\ngeometric mean of new / old median times: " +
         format("%.3f (%+.1f %%)\n", c.geometricMeanRatio, 100 * (c.geometricMeanRatio - 1));
  for (const std::string& name : c.onlyInOld) out += "only in " + c.oldPath + ": " + name + "\n";
  for (const std::string& name : c.onlyInNew) out += "only in " + c.newPath + ": " + name + "\n";
  for (const std::string& warning : c.warnings) out += "warning: " + warning + "\n";
  return out;
}

nlohmann::ordered_json asJson(const Comparison& c) {
  using json = nlohmann::ordered_json;
  json differences = json::array();
  for (const ContextDifference& d : c.contextDifferences) {
    differences.push_back(json{{"key", d.key}, {"old", d.oldValue}, {"new", d.newValue}});
  }
  json rows = json::array();
  for (const ComparedRow& row : c.rows) {
    rows.push_back(json{{"n", row.n},           {"block", row.block},
                        {"old_median_ns", row.oldMedian}, {"new_median_ns", row.newMedian},
                        {"change", row.change}, {"p_value", row.pValue},
                        {"old_runs", row.oldRuns}, {"new_runs", row.newRuns},
                        {"verdict", row.verdict}});
  }
  return json{{"old", c.oldPath},
              {"new", c.newPath},
              {"context_differences", differences},
              {"fingerprint_mismatches", c.fingerprintMismatches},
              {"rows", rows},
              {"geometric_mean_ratio", c.geometricMeanRatio},
              {"only_in_old", c.onlyInOld},
              {"only_in_new", c.onlyInNew},
              {"warnings", c.warnings}};
}

}  // namespace

std::string formatComparisons(const std::vector<Comparison>& comparisons,
                              const std::string& formatName) {
  if (formatName == "json") {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const Comparison& c : comparisons) all.push_back(asJson(c));
    return nlohmann::ordered_json{{"comparisons", all}}.dump(2) + "\n";
  }
  std::string out;
  for (std::size_t i = 0; i < comparisons.size(); ++i) {
    out += (i == 0 ? "" : "\n") + textOrMarkdown(comparisons[i], formatName == "md");
  }
  return out;
}

int runCompare(int argc, char** argv) {
  CLI::App app{"Compares saved lubench-report --json documents: each later file against the "
               "first, combination by combination (same n and block), with the Mann-Whitney U "
               "test. Status 3 when the same n, block and seed gave different fingerprints; 4 "
               "with --fail-above when a combination is significantly slower by more than PCT.",
               "lubench-report compare"};
  app.option_defaults()->disable_flag_override();
  std::vector<std::string> paths;
  std::string formatName = "text";
  std::optional<double> failAbove;
  app.add_option("files", paths, "OLD.json NEW.json [MORE.json ...]")->required()->expected(2, -1);
  app.add_option("--format", formatName, "text, md or json")
      ->check(CLI::IsMember({"text", "md", "json"}));
  app.add_option("--fail-above", failAbove,
                 "exit with status 4 when a combination is significantly slower by more than PCT "
                 "per cent")
      ->type_name("PCT")
      ->check(CLI::NonNegativeNumber);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    StandardOutput out(kProgram);
    out.write(app.help());
    return out.finish() ? 0 : kStatusSystem;
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "%s compare: %s\n\n%s", kProgram, error.what(), app.help().c_str());
    return kStatusUsage;
  }
  std::vector<nlohmann::json> documents;
  for (const std::string& path : paths) {
    std::ifstream file(path);
    if (!file) {
      std::fprintf(stderr, "%s compare: cannot read %s\n", kProgram, path.c_str());
      return kStatusUsage;
    }
    nlohmann::json document = nlohmann::json::parse(file, nullptr, false);
    if (document.is_discarded()) {
      std::fprintf(stderr, "%s compare: %s is not JSON\n", kProgram, path.c_str());
      return kStatusUsage;
    }
    documents.push_back(std::move(document));
  }
  std::vector<Comparison> comparisons;
  for (std::size_t i = 1; i < documents.size(); ++i) {
    ComparisonResult result = compareDocuments(documents[0], paths[0], documents[i], paths[i]);
    if (!result.comparison) {
      std::fprintf(stderr, "%s compare: %s\n", kProgram, result.error.c_str());
      return kStatusUsage;
    }
    comparisons.push_back(std::move(*result.comparison));
  }
  StandardOutput out(kProgram);
  out.write(formatComparisons(comparisons, formatName));
  if (!out.finish()) return kStatusSystem;
  const int status = comparisonStatus(comparisons, failAbove);
  if (status == kStatusFingerprintMismatch) {
    std::fprintf(stderr, "%s compare: FINGERPRINTS DIFFER: the same input gave different bytes\n",
                 kProgram);
  }
  return status;
}
