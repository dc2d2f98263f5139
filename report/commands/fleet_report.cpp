#include "fleet.hpp"

#include <nlohmann/json.hpp>

#include "compare.hpp"
#include "document_reader.hpp"
#include "program.hpp"
#include "text_format.hpp"

// The fleet's report as text, Markdown or JSON, and its status.

namespace {

using json = nlohmann::ordered_json;

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
                                 {"file", e.file}});
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
                         {"documents", report.documents},
                         {"slower_than_percent", options.slowerThan},
                         {"skipped", report.skipped},
                         {"warnings", report.warnings},
                         {"combinations", combinations}},
                    2) +
           "\n";
  }
  const bool markdown = format == "md";
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
        out +=
            "\n| node | median (ns) | over median | fingerprint | path | kernel | |\n"
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
        out += formatText(markdown ? "| %s | %.0f | %+.1f %% | %s | %s | %s | %s |\n"
                                   : "    %-40s %16.0f %+7.1f %%  %s  %-8s %-18s %s\n",
                          node.c_str(), e.medianNanoseconds, 100 * e.overMedian,
                          fingerprint.c_str(), path.c_str(), kernel.c_str(), mark);
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
  if (!options.failBelow) return 0;
  for (const FleetCombination& c : report.combinations) {
    for (const FleetGroup& g : c.groups) {
      for (const FleetEntry& e : g.entries) {
        if (exceedsPercent(e.overMedian, *options.failBelow)) return kStatusSlowdown;
      }
    }
  }
  return 0;
}
