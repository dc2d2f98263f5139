#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <limits>
#include <string>

#include "project.hpp"
#include "report.hpp"

// lubench-report: runs lubench's timed work and reports its time, the time of each step, the
// scaled residual and a fingerprint of the factorisation, as a table or as JSON.
// Exit status: 0 when every run passed, 2 for a failed residual or reference check, 64 for a
// usage error, 1 when memory, the clock or standard output fails.

namespace {

constexpr int kUsageError = 64;
constexpr int kSystemError = 1;

// Accepts a whole number in [1, largest] written in decimal, and nothing else.
CLI::Validator wholeNumberUpTo(long long largest) {
  return CLI::Validator(
      [largest](std::string& text) -> std::string {
        long long value = 0;
        const char* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (error != std::errc() || stop != end || value < 1 || value > largest) {
          return "expected a whole number from 1 to " + std::to_string(largest) + ", got '" + text +
                 "'";
        }
        return {};
      },
      "1.." + std::to_string(largest));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Runs lubench's timed work (blocked LU factorisation and both triangular solves) and "
      "reports its time, the time of each step, HPL's scaled residual with PASSED/FAILED, and a "
      "fingerprint of the factorisation.",
      "lubench-report"};
  ReportOptions options;
  bool json = false;
  constexpr int kLargestInt = std::numeric_limits<int>::max();
  app.add_option("--n", options.n, "order of the matrix")
      ->check(wholeNumberUpTo(kLargestInt))
      ->capture_default_str();
  app.add_option("--block", options.block, "column block size of the factorisation")
      ->check(wholeNumberUpTo(kLargestInt))
      ->capture_default_str();
  CLI::Option* seedOption =
      app.add_option(
             "--seed", options.seed,
             "seed of the matrix generator (default: the calendar clock, as lubench); a given seed "
             "makes the matrix reproducible")
          ->check(CLI::Validator(
              [](std::string& text) -> std::string {
                unsigned value = 0;
                const char* end = text.data() + text.size();
                const auto [stop, error] = std::from_chars(text.data(), end, value);
                if (error != std::errc() || stop != end) {
                  return "expected a whole number from 0 to " +
                         std::to_string(std::numeric_limits<unsigned>::max()) + ", got '" + text +
                         "'";
                }
                return {};
              },
              "0.." + std::to_string(std::numeric_limits<unsigned>::max())));
  app.add_option("--repeat", options.repeat,
                 "timed runs; one untimed warm-up run comes first when more than one")
      ->check(wholeNumberUpTo(1000000))
      ->capture_default_str();
  app.add_flag("--json", json, "print one JSON object instead of the table");
  app.add_flag("--check-reference", options.checkReference,
               "compare the factorisation bit for bit with the plain scalar rendering (slow: "
               "about a minute and a half at n = 4096)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& error) {
    std::cerr << "lubench-report: " << error.what() << "\n\n" << app.help();
    return kUsageError;
  }
  options.seedGiven = seedOption->count() > 0;
  if (!options.seedGiven) options.seed = static_cast<unsigned>(std::time(nullptr));

  std::optional<Report> report;
  if (json) {
    StandardOutputDiversion diversion;
    report = runReport(options, stderr);
  } else {
    report = runReport(options, stderr);
  }
  if (!report) return kSystemError;

  if (json) {
    std::cout << toJson(*report).dump(2) << '\n';
  } else {
    std::cout << formatTable(*report);
  }
  std::cout.flush();
  if (!finishStandardOutput()) return kSystemError;
  return exitStatus(*report);
}
