#include "program_help.hpp"

#include "build_info.hpp"
#include "program.hpp"

std::string subcommandsText() {
  return "Subcommands (each with its own --help):\n"
         "  compare   compares saved JSON documents: each combination's change with its interval "
         "and verdict\n"
         "  ab        measures two builds alternately in one session and says which is faster\n"
         "  export    writes a saved document in another tool's format (Google Benchmark, "
         "Bencher)\n"
         "  fleet     sets many nodes' or cores' documents side by side and flags the outliers\n"
         "  plot      draws saved documents of any kind as an SVG or PNG picture (gnuplot)\n";
}

std::string versionText() {
  const BuildInfo& build = buildInfo();
  std::string text = std::string(kProgram) + " " + build.version + "\n";
  text += "commit: " + build.commit.value_or("unknown (built outside a git checkout)");
  if (build.dirty.value_or(false)) text += " (modified)";
  text += "\ncompiler: " + compilerDescription() + ", " + build.buildType + "\n";
  text += "vector paths (each path's default kernel first):\n";
  for (const HeldPath& path : build.paths) {
    std::string kernels;
    for (const std::string& kernel : path.kernels) kernels += (kernels.empty() ? "" : ", ") + kernel;
    text += "  " + path.name + ": " + kernels + (path.runsHere ? "" : " (not on this CPU)") + "\n";
  }
  return text;
}
