#include "output_options.hpp"

#include <CLI/CLI.hpp>

#include "launcher.hpp"
#include "output_format.hpp"
#include "output_target.hpp"
#include "plot.hpp"
#include "text_format.hpp"

namespace {

// Accepts canonicalFormat's names and hands on the canonical one, so that "table" is "text" from
// here on.
CLI::Validator formatCheck() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const std::optional<std::string> name = canonicalFormat(text, kReportFormats);
        if (!name) return "expected " + formatNames(kReportFormats) + ", got '" + printable(text) + "'";
        text = *name;
        return {};
      },
      "");
}

}  // namespace

void addOutputOptions(CLI::App& app, OutputRequest& request, SweepOptions& sweep) {
  app.add_flag("--json", request.json,
               "the same as --format json: print the JSON document instead of the table, the "
               "context, then every combination as it finishes");
  app.add_flag("--summary", sweep.summaryOnly, "print only the summary row of each combination");
  app.add_option("--format", request.format,
                 "what standard output shows: text (the table; table is its older name), md (the "
                 "summary rows alone as a Markdown table), csv (the same rows as CSV) or json "
                 "(the JSON document, as --json)")
      ->transform(formatCheck())
      ->type_name("FORMAT")
      ->capture_default_str();
  app.add_option("--out", request.outs,
                 "also write the results to FILE, in the format its name ends with: .md the "
                 "Markdown summary rows, .csv the CSV rows, any other name the JSON document; "
                 "repeatable, up to " + std::to_string(kMaxOutFiles) +
                     " files, each of its own. {host} and {rank} in a name become the host's name "
                     "and the launcher's rank. A file is written under a temporary name beside "
                     "it until it is complete, a device or FIFO once, at the end; standard output "
                     "still shows --format")
      ->type_name("FILE")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--plot", request.plot,
                 "draw GFLOP/s and efficiency against n into FILE.svg or FILE.png through "
                 "gnuplot")
      ->type_name("FILE");
}

std::optional<std::string> resolveOutputOptions(const CLI::App& app, OutputRequest request,
                                                SweepOptions& sweep) {
  request.formatGiven = app.count("--format") > 0;
  request.plotGiven = app.count("--plot") > 0;
  // --json is --format json; any other --format beside it is a contradiction.
  if (request.json && request.formatGiven && request.format != "json") {
    return "--json prints the JSON document and --format " + request.format +
           " something else: give one of them";
  }
  sweep.format = request.json ? "json" : request.format;
  if (request.outs.size() > static_cast<std::size_t>(kMaxOutFiles)) {
    return "--out: at most " + std::to_string(kMaxOutFiles) + " files, not " +
           std::to_string(request.outs.size());
  }
  sweep.outs.clear();
  for (const std::string& given : request.outs) {
    // {host} and {rank}: one name per node and per rank under any launcher.
    const ExpandedName expanded = expandPlaceholdersHere(given);
    if (!expanded.error.empty()) return "--out: " + expanded.error;
    TargetResolution resolved = resolveOutputTarget(expanded.name, "--out");
    if (!resolved.target) return resolved.error;
    for (const OutputTarget& earlier : sweep.outs) {
      if (sameTarget(earlier, *resolved.target)) {
        return "--out " + printable(earlier.given) + " and --out " +
               printable(resolved.target->given) + " name the same file: each needs its own";
      }
    }
    sweep.outs.push_back(std::move(*resolved.target));
  }
  if (!request.plotGiven) return std::nullopt;
  TargetResolution plot = resolveOutputTarget(request.plot, "--plot");
  if (!plot.target) return plot.error;
  sweep.plot = std::move(plot.target);
  for (const OutputTarget& out : sweep.outs) {
    if (sameTarget(out, *sweep.plot)) {
      return "--out and --plot name the same file, " + printable(request.plot) +
             ": each needs its own";
    }
  }
  if (!plotFormatOf(request.plot)) {
    return "--plot draws .svg or .png files, not '" + printable(request.plot) + "'";
  }
  if (!gnuplotAvailable()) return "--plot needs gnuplot (install the Debian package gnuplot-nox)";
  return std::nullopt;
}
