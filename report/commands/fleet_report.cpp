#include "fleet.hpp"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "command_line.hpp"
#include "compare.hpp"
#include "document_reader.hpp"
#include "expectations.hpp"
#include "machine_context.hpp"
#include "output.hpp"
#include "program.hpp"
#include "subcommand_formats.hpp"
#include "subcommand_output.hpp"
#include "text_format.hpp"

// The fleet's command line, its report as text, Markdown or JSON, and its status.

namespace {

using json = nlohmann::ordered_json;

// The entry's rate against its band, as the text and Markdown show it; empty without --expect.
std::string bandCell(const FleetEntry& e) {
  if (!e.expectation) return "";
  const std::string text =
      formatText("%.2f GFLOP/s, ", e.expectation->measuredGflops) + bandText(*e.expectation);
  return e.expectation->outside() ? "OUTSIDE band: " + text : text;
}

// "node7 rank 3, n 4096, block 32": an entry's place in the messages.
std::string entryPlace(const FleetCombination& c, const FleetEntry& e) {
  return printable(entryName(e)) + ", " + combinationName(c.n, c.block, c.kernelOption);
}

}  // namespace

std::string formatFleet(const FleetReport& report, const std::string& format,
                        const FleetOptions& options) {
  const auto nameOrNull = [](const std::string& name) {
    return name.empty() ? json(nullptr) : json(name);
  };
  if (format == "json") {
    json combinations = json::array();
    for (const FleetCombination& c : report.combinations) {
      json groups = json::array();
      for (const FleetGroup& g : c.groups) {
        json entries = json::array();
        for (const FleetEntry& e : g.entries) {
          entries.push_back(json{{"node", e.node},
                                 {"cpu", e.cpu ? json(*e.cpu) : json(nullptr)},
                                 {"core", e.core ? json(*e.core) : json(nullptr)},
                                 {"median_ns", e.medianNanoseconds},
                                 {"over_median", e.overMedian},
                                 {"slow", e.slow},
                                 {"fingerprint", e.fingerprint},
                                 {"vector_path", nameOrNull(e.vectorPath)},
                                 {"kernel", nameOrNull(e.kernel)},
                                 {"file", e.file},
                                 {"cpu_model", nameOrNull(e.cpuModel)},
                                 {"expectation", bandJson(e.expectation)}});
        }
        groups.push_back(json{{"build", g.build},
                              {"copies", g.copies},
                              {"median_ns", g.median},
                              {"min_ns", g.min},
                              {"max_ns", g.max},
                              {"entries", entries}});
      }
      combinations.push_back(json{{"n", c.n},
                                  {"block", c.block},
                                  {"seed", c.seed},
                                  {"kernel_option", c.kernelOption},
                                  {"majority_fingerprint", c.fingerprintTie
                                                               ? json(nullptr)
                                                               : json(c.majorityFingerprint)},
                                  {"fingerprint_tie", c.fingerprintTie},
                                  {"dissents", c.dissents},
                                  {"groups", groups}});
    }
    return jsonText(json{{"document_kind", "fleet"},
                         {"date", report.date.empty() ? json(nullptr) : json(report.date)},
                         {"documents", report.documents},
                         {"slower_than_percent", options.slowerThan},
                         {"expectations_file", options.expectations
                                                   ? json(options.expectations->path)
                                                   : json(nullptr)},
                         {"skipped", report.skipped},
                         {"warnings", report.warnings},
                         {"combinations", combinations}},
                    2) +
           "\n";
  }
  const bool markdown = format == "md";
  const bool bands = options.expectations.has_value();
  std::string out = formatText("%slubench-report fleet: %d document%s\n", markdown ? "## " : "",
                               report.documents, report.documents == 1 ? "" : "s");
  for (const FleetCombination& c : report.combinations) {
    out += formatText("\n%s%s, seed %u\n", markdown ? "### " : "",
                      combinationName(c.n, c.block, c.kernelOption).c_str(), c.seed);
    for (const FleetGroup& g : c.groups) {
      out += formatText("\n%s%s (%zu %s): median %.0f ns, from %.0f to %.0f\n",
                        markdown ? "" : "  ", printable(g.build).c_str(), g.entries.size(),
                        g.copies ? "copies run together"
                        : g.entries.size() == 1 ? "node"
                                                : "nodes",
                        g.median, g.min, g.max);
      if (markdown) {
        out += bands ? "\n| node | median (ns) | over median | fingerprint | path | kernel | | band |\n"
                       "|---|---|---|---|---|---|---|---|\n"
                     : "\n| node | median (ns) | over median | fingerprint | path | kernel | |\n"
                       "|---|---|---|---|---|---|---|\n";
      }
      for (const FleetEntry& e : g.entries) {
        const char* mark = e.slow ? "SLOW" : "";
        // Every name comes from a document: in a Markdown cell a '|' would end the cell.
        const auto shown = [markdown](const std::string& text) {
          const std::string known = text.empty() ? "?" : text;
          return markdown ? markdownCell(known) : printable(known);
        };
        const std::string node = shown(entryName(e)), fingerprint = shown(e.fingerprint),
                          path = shown(e.vectorPath), kernel = shown(e.kernel);
        std::string line = formatText(markdown ? "| %s | %.0f | %+.1f %% | %s | %s | %s | %s |"
                                               : "    %-40s %16.0f %+7.1f %%  %s  %-8s %-18s %s",
                                      node.c_str(), e.medianNanoseconds, 100 * e.overMedian,
                                      fingerprint.c_str(), path.c_str(), kernel.c_str(), mark);
        if (bands) line += markdown ? " " + bandCell(e) + " |" : (*mark ? "  " : "") + bandCell(e);
        out += line + "\n";
      }
    }
    for (const std::string& dissent : c.dissents) {
      out += (c.fingerprintTie ? "  FINGERPRINTS DISAGREE: " : "  FINGERPRINT DISSENTS: ") +
             dissent + "\n";
    }
  }
  for (const std::string& skipped : report.skipped) out += "skipped: " + printable(skipped) + "\n";
  for (const std::string& warning : report.warnings) out += "warning: " + printable(warning) + "\n";
  return out;
}

int fleetStatus(const FleetReport& report, const FleetOptions& options) {
  if (report.documents == 0) return kStatusUsage;
  for (const FleetCombination& c : report.combinations) {
    if (!c.dissents.empty()) return kStatusFingerprintsDisagree;
  }
  for (const FleetCombination& c : report.combinations) {
    for (const FleetGroup& g : c.groups) {
      for (const FleetEntry& e : g.entries) {
        if (options.failBelow && exceedsPercent(e.overMedian, *options.failBelow)) {
          return kStatusSlowdown;
        }
        if (e.expectation && e.expectation->outside()) return kStatusSlowdown;
      }
    }
  }
  return 0;
}

int runFleet(int argc, char** argv) {
  CLI::App app{
      "Sets the documents of many nodes side by side (each file named, and the *.json files of "
      "each directory named): per combination and seed, every node and every copy ranked by "
      "time among like machines and builds, the slow ones marked, and every node and CPU whose "
      "fingerprint dissents from the majority named. Status 3 when a fingerprint dissents, 4 "
      "with --fail-below when an entry is slower than its group's median by more than PCT per "
      "cent or with --expect when an entry is outside its reference band, 64 when no document "
      "could be read.",
      "lubench-report fleet"};
  app.option_defaults()->disable_flag_override();
  std::vector<std::string> paths;
  std::string format = "text", slowerThan, failBelow;
  std::vector<std::string> outPaths;
  app.add_option("paths", paths, "FILES|DIRS")->required();
  addFormatOption(app, format, "the fleet's report");
  addOutOption(app, outPaths, "the fleet's JSON document", "never a document read");
  const CLI::Validator percent = percentCheck();
  app.add_option("--slower-than", slowerThan,
                 "mark entries slower than their group's median by more than PCT per cent "
                 "(default 10) and, in a group of 5 or more whose median absolute deviation is "
                 "above 0, outliers by the modified Z-score too")
      ->type_name("PCT")
      ->check(percent);
  app.add_option("--fail-below", failBelow,
                 "exit with status 4 when an entry is slower than its group's median by more "
                 "than PCT per cent")
      ->type_name("PCT")
      ->check(percent);
  std::string expectPath;
  app.add_option("--expect", expectPath,
                 "check every entry's rate against the reference band of its CPU model, vector "
                 "path, n and block in FILE (a reference bands' document): exit with status 4 "
                 "when one is outside its band; one without a band is said, not failed")
      ->type_name("FILE");
  if (const auto status = parseArguments(app, argc, argv, std::string(kProgram) + " fleet")) {
    return *status;
  }
  const std::string name = std::string(kProgram) + " fleet";
  FleetOptions options;
  if (app.count("--expect") > 0) {
    std::optional<SavedExpectations> expectations = readExpectationsOption(expectPath, name);
    if (!expectations) return kStatusUsage;
    options.expectations = std::move(expectations);
  }
  if (!slowerThan.empty()) options.slowerThan = *parseFailAbove(slowerThan);
  if (!failBelow.empty()) options.failBelow = parseFailAbove(failBelow);
  // Every document the fleet would read, the bands among them, so that --out replaces none.
  std::vector<std::string> unreadable;
  std::vector<std::string> read = fleetFiles(paths, unreadable);
  if (options.expectations) read.push_back(expectPath);
  const SubcommandOuts outs = resolveSubcommandOuts(outPaths, read, reportFormats(), name);
  if (outs.refused) return kStatusUsage;
  FleetReport report = readFleet(paths, options);
  report.date = isoDate();
  for (const std::string& skipped : report.skipped) {
    std::fprintf(stderr, "%s fleet: skipped: %s\n", kProgram, printable(skipped).c_str());
  }
  if (report.documents == 0) {
    std::fprintf(stderr, "%s fleet: no document could be read\n", kProgram);
    return kStatusUsage;
  }
  StandardOutput out(kProgram);
  out.write(formatFleet(report, format, options));
  bool written = out.finish();
  written = writeOuts(
                outs.outs,
                [&](const std::string& outFormat) { return formatFleet(report, outFormat, options); },
                name,
                "the fleet's report was not written (no document read was changed: run fleet "
                "again)") &&
            written;
  const int status = fleetStatus(report, options);
  for (const FleetCombination& c : report.combinations) {
    for (const std::string& dissent : c.dissents) {
      std::fprintf(stderr, "%s fleet: %s: %s\n", kProgram,
                   c.fingerprintTie ? "FINGERPRINTS DISAGREE" : "FINGERPRINT DISSENTS",
                   dissent.c_str());
    }
  }
  for (const FleetCombination& c : report.combinations) {
    for (const FleetGroup& g : c.groups) {
      for (const FleetEntry& e : g.entries) {
        if (!e.expectation || e.expectation->verdict == BandVerdict::kWithin) continue;
        std::fprintf(stderr, "%s fleet: %s: %s (%s)\n", kProgram,
                     e.expectation->outside() ? "OUTSIDE BAND" : "no reference",
                     bandMessage(*e.expectation, entryPlace(c, e), e.cpuModel, e.vectorPath).c_str(),
                     printable(e.file).c_str());
      }
    }
  }
  // A file skipped for want of memory is a failure of memory: 1, before 3 and 4.
  return written && report.outOfMemory == 0 ? status : kStatusSystem;
}
