#include "plot_command.hpp"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>
#include <new>
#include <stdexcept>

#include "command_line.hpp"
#include "document_reader.hpp"
#include "pictures.hpp"
#include "program.hpp"
#include "subcommand_output.hpp"
#include "text_format.hpp"

// lubench-report plot: saved documents of any kind drawn as one picture, through gnuplot.

namespace {

constexpr std::size_t kMaxOuts = 16;

const char* formatName(PlotFormat format) { return format == PlotFormat::kPng ? "png" : "svg"; }

}  // namespace

int runPlot(int argc, char** argv) {
  const std::string name = std::string(kProgram) + " plot";
  CLI::App app{"Draws saved documents as one picture through gnuplot: a run or sweep (each run's "
               "rate, the median and its interval against n, or against the block for one "
               "order; --copies beside the single copy), an A/B session of ab (each pair's ratio "
               "and the steps' ratios), a comparison of compare (each combination's change and "
               "its interval) or a fleet's report (each node against its group's median, the "
               "slow band, dissenting fingerprints). Each document is one part of the picture, "
               "under a title naming its machine, build, seed and date.",
               name};
  app.option_defaults()->disable_flag_override();
  std::vector<std::string> paths, outs;
  app.add_option("documents", paths,
                 "DOC.json...: documents of lubench-report --json, ab, compare or fleet with "
                 "--format json")
      ->required();
  app.add_option("--out", outs,
                 "write the picture to FILE.svg or FILE.png (the name says which; repeatable, at "
                 "most 16; {host} and {rank} as in the main command's --out; never a document "
                 "read)")
      ->required()
      ->type_name("FILE");
  if (const auto status = parseArguments(app, argc, argv, name)) return *status;
  if (outs.size() > kMaxOuts) {
    std::fprintf(stderr, "%s: --out at most %zu times, not %zu\n", name.c_str(), kMaxOuts,
                 outs.size());
    return kStatusUsage;
  }
  // Where the picture goes, each refused as every command's --out is, before anything is read.
  std::vector<NamedOut> targets;
  for (const std::string& out : outs) {
    const std::optional<PlotFormat> format = plotFormatOf(out);
    if (!format) {
      std::fprintf(stderr, "%s: --out draws .svg or .png files, not '%s'\n", name.c_str(),
                   printable(out).c_str());
      return kStatusUsage;
    }
    SubcommandOut resolved = resolveSubcommandOut(true, out, paths, name);
    if (resolved.refused) return kStatusUsage;
    for (const NamedOut& earlier : targets) {
      if (sameTarget(earlier.target, *resolved.target)) {
        std::fprintf(stderr, "%s: --out names %s twice\n", name.c_str(), printable(out).c_str());
        return kStatusUsage;
      }
    }
    targets.push_back(NamedOut{std::move(*resolved.target), formatName(*format)});
  }
  if (!gnuplotAvailable()) {
    std::fprintf(stderr, "%s: drawing needs gnuplot (install the Debian package gnuplot-nox)\n",
                 name.c_str());
    return kStatusUsage;
  }
  Picture picture;
  bool usable = true;
  for (const std::string& path : paths) {
    DocumentReading reading;
    try {
      reading = readDocumentOf(path, {DocumentKind::kRun, DocumentKind::kAbSession,
                                      DocumentKind::kComparison, DocumentKind::kFleet});
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "%s: %s: out of memory while reading it\n", name.c_str(),
                   printable(path).c_str());
      return kStatusSystem;
    } catch (const std::length_error&) {
      std::fprintf(stderr, "%s: %s: out of memory while reading it\n", name.c_str(),
                   printable(path).c_str());
      return kStatusSystem;
    }
    for (const std::string& problem : reading.problems) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), problem.c_str());
    }
    for (const std::string& warning : reading.warnings) {
      std::fprintf(stderr, "%s: warning: %s\n", name.c_str(), printable(warning).c_str());
    }
    // Every document is read, so that each one's problems are said at once.
    if (!reading.problems.empty() || !usable) {
      usable = false;
      continue;
    }
    addDocumentPicture(picture, reading, path);
  }
  if (!usable) return kStatusUsage;
  if (picture.panels() == 0) {
    std::fprintf(stderr, "%s: the documents hold nothing to draw\n", name.c_str());
    return kStatusUsage;
  }
  if (picture.panelsLeftOut() > 0) {
    std::fprintf(stderr, "%s: warning: %d panels left out: a picture draws at most %d\n",
                 name.c_str(), picture.panelsLeftOut(), kMaxPanels);
  }
  // Each format drawn once, before any output is touched: a picture gnuplot cannot draw leaves
  // every --out as it was.
  std::map<std::string, std::string> drawn;
  for (const NamedOut& target : targets) {
    if (drawn.contains(target.format)) continue;
    const PlotFormat format = target.format == "png" ? PlotFormat::kPng : PlotFormat::kSvg;
    std::optional<std::string> image =
        renderPicture(format, picture, printable(target.target.given), stderr);
    if (!image) return kStatusSystem;
    drawn[target.format] = std::move(*image);
  }
  const bool written = writeOuts(
      targets, [&](const std::string& format) { return drawn[format]; }, name,
      "the picture was not written (the documents are unchanged: run plot again)");
  return written ? 0 : kStatusSystem;
}
