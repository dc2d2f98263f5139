#pragma once

#include <optional>
#include <string>
#include <vector>

#include "interruption.hpp"
#include "sweep_options.hpp"

// The main command's options that say where its results go: --format (or --json) for standard
// output, --summary, every --out file and --plot. Added to the parser as given, then resolved
// and checked before anything runs.

namespace CLI {
class App;
}

// The formats standard output shows, canonical (output_format.hpp).
inline const std::vector<std::string> kReportFormats{"text", "md", "csv", "json"};

// At most this many --out files: each is a document the signal handler closes beside standard
// output's.
inline constexpr int kMaxOutFiles = kMaxDocuments - 1;

// The output options as the parser leaves them.
struct OutputRequest {
  std::string format = "text";    // --format, made canonical by its check
  bool formatGiven = false;       // set by resolveOutputOptions from the parser's count
  bool json = false;              // --json
  std::vector<std::string> outs;  // each --out as given, in order
  std::string plot;               // --plot as given; empty when not given
  bool plotGiven = false;
};

// Adds --json, --summary, --format, --out (repeatable) and --plot to app; their values go to
// request, --summary's to sweep.
void addOutputOptions(CLI::App& app, OutputRequest& request, SweepOptions& sweep);

// Settles sweep.format, sweep.outs and sweep.plot from request after app has parsed: each --out
// name with {host} and {rank} expanded, then resolved (output_target.hpp). The refusal's
// message, names made printable, for --json with another --format, more than kMaxOutFiles
// files, a name that cannot be written, two --out naming the same file, an --out naming the
// --plot file, a plot that is not .svg or .png, and --plot without gnuplot.
std::optional<std::string> resolveOutputOptions(const CLI::App& app, OutputRequest request,
                                                SweepOptions& sweep);
