#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process_runner.hpp"

// Where lubench-report's results go when the names, pipes and signals around it are hostile:
// --out and --plot names that hold shell syntax, links to devices, directories, FIFOs; standard
// output closed or broken; a file size limit; a signal at any moment; text that is not UTF-8.

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

ProcessResult runReportTool(const std::vector<std::string>& arguments,
                            const ProcessSetup& setup = {}) {
  return runProcess(LUBENCH_REPORT_EXECUTABLE, arguments, setup);
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The document in path, or discarded JSON when it is missing or not JSON.
json documentIn(const std::string& path) {
  return json::parse(readAll(path), nullptr, false);
}

bool gnuplotInstalled() {
  return std::system("command -v gnuplot > /dev/null") == 0;
}

// Files in the directory whose names the report's temporary files have.
int temporaryFilesIn(const std::string& directory) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(directory)) {
    count += entry.path().filename().string().starts_with(".lubench-report.");
  }
  return count;
}

const std::vector<std::string> kQuick = {"--n", "32,48", "--seed", "1", "--no-peak", "--summary"};

std::vector<std::string> quickWith(std::vector<std::string> more) {
  std::vector<std::string> arguments = kQuick;
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

TEST(ReportOutputs, NamesAreDataNeverCommands) {
  if (!gnuplotInstalled()) GTEST_SKIP() << "gnuplot is not installed";
  ScratchDirectory dir("lubench-names");
  // A command that ran would leave the marker in the working directory, the report's too.
  const std::string marker = "lubench-names-marker";
  fs::remove(marker);
  // Backticks, a newline with a gnuplot shell escape, quotes, an upper-case extension.
  for (const std::string& name : {"x`touch " + marker + "`.svg", "y\n!touch " + marker + "\n.SVG",
                                  std::string("q\"'\\.png")}) {
    const ProcessResult plotted = runReportTool(quickWith({"--plot", dir.path(name)}));
    EXPECT_EQ(plotted.status, 0) << plotted.err;
    EXPECT_FALSE(fs::exists(marker)) << "a command ran from " << name;
    EXPECT_GT(fs::file_size(dir.path(name)), 1000u) << name;
  }
  EXPECT_EQ(temporaryFilesIn(dir.path("")), 0);
  fs::remove(marker);
}

TEST(ReportOutputs, LinksDevicesAndDirectoriesAreNeverReplaced) {
  ScratchDirectory dir("lubench-targets");
  // A link to a device: the device is written, neither it nor the link is replaced.
  const std::string toNull = dir.path("null-link");
  fs::create_symlink("/dev/null", toNull);
  EXPECT_EQ(runReportTool(quickWith({"--out", toNull})).status, 0);
  EXPECT_TRUE(fs::is_symlink(toNull));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A link to a regular file: the file is replaced with its mode, the link stays a link.
  const std::string target = dir.write("target.json", "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string link = dir.path("link.json");
  fs::create_symlink(target, link);
  // As root, the replaced file's owner is kept too.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  }
  EXPECT_EQ(runReportTool(quickWith({"--out", link})).status, 0);
  EXPECT_TRUE(fs::is_symlink(link));
  struct stat owned {};
  ASSERT_EQ(stat(target.c_str(), &owned), 0);
  if (root) {
    EXPECT_EQ(owned.st_uid, 65534u);
  }
  EXPECT_EQ(documentIn(target)["benchmarks"].size(), 2u);
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A FIFO is written once, complete, to its reader.
  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = readAll(fifo); });
  EXPECT_EQ(runReportTool(quickWith({"--out", fifo})).status, 0);
  reader.join();
  EXPECT_EQ(json::parse(received, nullptr, false)["benchmarks"].size(), 2u) << received;
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A name at the system's length limit works: the temporary name is short.
  const std::string longName = dir.path(std::string(250, 'l') + ".json");
  EXPECT_EQ(runReportTool(quickWith({"--out", longName})).status, 0);
  EXPECT_EQ(documentIn(longName)["benchmarks"].size(), 2u);

  // Refused before any run: nothing on standard output, the usage status.
  fs::create_symlink(dir.path("shared.svg"), dir.path("other-name.svg"));
  for (const std::vector<std::string>& refused :
       {std::vector<std::string>{"--out", dir.path("")},
        {"--out", ""},
        {"--plot", ""},
        {"--out", dir.path("shared.svg"), "--plot", dir.path("other-name.svg")},
        {"--out", dir.path("new-dir/")}}) {
    const ProcessResult result = runReportTool(quickWith(refused));
    EXPECT_EQ(result.status, 64) << refused[1] << "\n" << result.err;
    EXPECT_EQ(result.out, "") << refused[1];
  }
  for (const char* device : {"/dev/loop0", "/dev/sda", "/dev/vda", "/dev/nvme0n1"}) {
    if (!fs::is_block_file(device)) continue;
    EXPECT_EQ(runReportTool(quickWith({"--out", device})).status, 64) << device;
    EXPECT_TRUE(fs::is_block_file(device));
  }
  // A plot that cannot be written is found out before the runs, and never lands elsewhere.
  const ProcessResult unwritable =
      runReportTool(quickWith({"--plot", dir.path("missing/p.svg"), "--format", "csv"}));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.out, "");
  EXPECT_EQ(temporaryFilesIn(dir.path("")), 0);
}

TEST(ReportOutputs, FailingOutputsKeepWhatFinished) {
  ScratchDirectory dir("lubench-failing");
  // Standard output a broken pipe: status 1, and the --out document still complete.
  const std::string piped = dir.path("piped.json");
  const ProcessResult broken =
      runReportTool(quickWith({"--out", piped}), {.out = Stdout::kBrokenPipe});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("cannot write the result to standard output"), std::string::npos);
  const json complete = documentIn(piped);
  EXPECT_EQ(complete["benchmarks"].size(), 2u);
  EXPECT_EQ(complete["interrupted"], false);

  // Standard output closed: every command fails with status 1; --out is still written.
  const std::string closed = dir.path("closed.json");
  EXPECT_EQ(runReportTool(quickWith({"--json", "--out", closed}), {.out = Stdout::kClosed}).status,
            1);
  EXPECT_EQ(documentIn(closed)["benchmarks"].size(), 2u);
  EXPECT_EQ(runReportTool({"--help"}, {.out = Stdout::kClosed}).status, 1);
  EXPECT_EQ(runReportTool({"compare", closed, piped}, {.out = Stdout::kClosed}).status, 1);
  EXPECT_EQ(runReportTool({"compare", "--help"}, {.out = Stdout::kBrokenPipe}).status, 1);

  // A file size limit reached mid-sweep: the file is cut back to its last whole combination and
  // closed there; no temporary file stays.
  const std::string limited = dir.path("limited.json");
  const ProcessResult tooLarge = runReportTool(
      {"--n", "32,48,64,80,96", "--repeat", "3", "--seed", "1", "--no-peak", "--out", limited},
      {.fileSizeLimit = 12 * 1024});
  EXPECT_EQ(tooLarge.status, 1);
  EXPECT_NE(tooLarge.err.find("File too large"), std::string::npos) << tooLarge.err;
  const json cut = documentIn(limited);
  ASSERT_FALSE(cut.is_discarded()) << readAll(limited);
  EXPECT_EQ(cut["interrupted"], true);
  EXPECT_EQ(cut["interrupted_by"], "error");
  EXPECT_LT(cut["benchmarks"].size(), 5u);
  EXPECT_EQ(cut["finished_combinations"], cut["benchmarks"].size());
  EXPECT_EQ(temporaryFilesIn(dir.path("")), 0);
}

TEST(ReportOutputs, ASignalAtAnyMomentLeavesAValidDocument) {
  ScratchDirectory dir("lubench-signalled");
  // During the peak measurement, before any combination: the context alone, marked.
  const std::string early = dir.path("early.json");
  // A sanitized build takes longer than 100 ms to start; the peak takes about half a second.
#if defined(LUBENCH_SANITIZED)
  constexpr int kDuringThePeak = 300;
#else
  constexpr int kDuringThePeak = 100;
#endif
  const ProcessResult signalled =
      runReportTool({"--n", "64", "--seed", "1", "--out", early},
                    {.signal = SIGTERM, .signalAfterMilliseconds = kDuringThePeak});
  EXPECT_EQ(signalled.status, 128 + SIGTERM);
  const json marked = documentIn(early);
  ASSERT_FALSE(marked.is_discarded()) << readAll(early);
  EXPECT_EQ(marked["interrupted_by"], "SIGTERM");
  EXPECT_EQ(marked["benchmarks"].size(), 0u);
  EXPECT_EQ(marked["context"]["json_schema_version"], 2);
  EXPECT_NE(signalled.err.find("before any combination finished; the context alone is kept on "
                               "standard output and in " +
                               early),
            std::string::npos)
      << signalled.err;
  EXPECT_EQ(temporaryFilesIn(dir.path("")), 0);

  // During the runs, with a FIFO nobody has opened for reading: the document cannot be written
  // there, and the message says so rather than leave "kept in" standing.
  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const ProcessResult running = runReportTool(
      {"--n", "64,512,1024", "--seed", "1", "--no-peak", "--out", fifo},
      {.signal = SIGTERM, .signalWhen = "result:"});
  EXPECT_EQ(running.status, 128 + SIGTERM) << running.err;
  EXPECT_NE(running.err.find(fifo + ": no reader had opened it, so the document was not written"),
            std::string::npos)
      << running.err;

  // After the runs, waiting for a reader of a FIFO nobody reads: the finished document is kept
  // in a file of its own, which the message names. The signal comes once the wait has begun,
  // well after the last result line.
  const ProcessResult waiting = runReportTool(
      {"--n", "64", "--seed", "1", "--no-peak", "--out", fifo},
      {.environment = {"TMPDIR=" + dir.path("")},
       .signal = SIGINT,
       .signalWhen = "result:",
       .signalDelayMilliseconds = 500});
  EXPECT_EQ(waiting.status, 128 + SIGINT) << waiting.err;
  const std::string said = "interrupted by SIGINT while waiting for a reader of " + fifo +
                           ": the document was not written; it is kept in ";
  const std::size_t at = waiting.err.find(said);
  ASSERT_NE(at, std::string::npos) << waiting.err;
  const std::string kept =
      waiting.err.substr(at + said.size(), waiting.err.find('\n', at) - at - said.size());
  EXPECT_EQ(documentIn(kept)["benchmarks"].size(), 1u) << kept;
}

// The cells of each line of Markdown rows ("| a | b |"), the separator line left out.
std::vector<std::vector<std::string>> markdownRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("| ---")) continue;
    std::vector<std::string> cells;
    for (std::size_t at = 2; at < line.size();) {
      const std::size_t end = line.find(" |", at);
      cells.push_back(line.substr(at, end - at));
      at = end + 3;
    }
    rows.push_back(cells);
  }
  return rows;
}

// The cells of each CSV line (none of these cells holds a comma or a quote).
std::vector<std::vector<std::string>> csvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line + ",");
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

// Row cell named column, by the header row's names.
std::string cell(const std::vector<std::vector<std::string>>& rows, std::size_t row,
                 const std::string& column) {
  const std::vector<std::string>& names = rows.front();
  const auto at = std::find(names.begin(), names.end(), column);
  if (at == names.end() || row >= rows.size()) return "<no " + column + ">";
  return rows[row].at(static_cast<std::size_t>(at - names.begin()));
}

// A table's text with every number made '#' and spaces collapsed: what two runs share.
std::string withoutFigures(const std::string& text) {
  return std::regex_replace(std::regex_replace(text, std::regex("[0-9][0-9.:+T-]*"), "#"),
                            std::regex(" +"), " ");
}

// One run, several --out files: each holds every finished combination in its name's format, and
// the rows' spread is the JSON document's.
TEST(ReportOutputs, EveryOutFileOfOneRunHoldsTheRowsInItsFormat) {
  ScratchDirectory dir("lubench-many-outs");
  const std::string jsonFile = dir.path("runs.json"), md = dir.path("runs.md"),
                    csv = dir.path("RUNS.CSV");
  const ProcessResult run =
      runReportTool({"--n", "32,48", "--repeat", "6", "--seed", "1", "--no-peak", "--format",
                     "csv", "--out", jsonFile, "--out", md, "--out", csv});
  ASSERT_EQ(run.status, 0) << run.err;
  // Standard output shows --format, and the CSV file is the same bytes.
  EXPECT_EQ(readAll(csv), run.out);
  const json document = documentIn(jsonFile);
  ASSERT_FALSE(document.is_discarded()) << readAll(jsonFile);
  ASSERT_EQ(document["benchmarks"].size(), 2u);
  const auto mdRows = markdownRows(readAll(md));
  const auto csvCells = csvRows(readAll(csv));
  ASSERT_EQ(mdRows.size(), 3u) << readAll(md);
  ASSERT_EQ(csvCells.size(), 3u) << readAll(csv);
  // The older columns keep their places.
  EXPECT_EQ(csvCells[0][2], "median_ns");
  EXPECT_EQ(csvCells[0][8], "fingerprint");
  const auto number = [](const json& value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value.get<double>());
    return std::string(text);
  };
  for (std::size_t row = 1; row <= 2; ++row) {
    const json& b = document["benchmarks"][row - 1];
    const json& timed = b["timed_ns"];
    ASSERT_TRUE(timed["median_ci"].is_object()) << timed;
    EXPECT_EQ(b["efficiency_basis"], "separate_multiply_add_peak");
    for (const auto& side : {std::pair{&mdRows, std::string("md")},
                             std::pair{&csvCells, std::string("csv")}}) {
      // Named, not a structured binding: Clang 14 cannot capture a binding in a lambda.
      const auto* rows = side.first;
      const std::string& prefix = side.second;
      const bool isMd = prefix == "md";
      const auto at = [&](const char* mdName, const char* csvName) {
        return cell(*rows, row, isMd ? mdName : csvName);
      };
      EXPECT_EQ(at("n", "n"), std::to_string(b["n"].get<int>())) << prefix;
      EXPECT_EQ(at("fingerprint", "fingerprint"), b["fingerprint"]) << prefix;
      EXPECT_EQ(at("min (ns)", "min_ns"), number(timed["min"], "%.0f")) << prefix;
      EXPECT_EQ(at("max (ns)", "max_ns"), number(timed["max"], "%.0f")) << prefix;
      EXPECT_EQ(at("median low (ns)", "median_low_ns"), number(timed["median_ci"]["low"], "%.0f"));
      EXPECT_EQ(at("median high (ns)", "median_high_ns"),
                number(timed["median_ci"]["high"], "%.0f"));
      EXPECT_EQ(at("GFLOP/s min", "gflops_min"), number(b["gflops"]["min"], "%.2f")) << prefix;
      EXPECT_EQ(at("GFLOP/s max", "gflops_max"), number(b["gflops"]["max"], "%.2f")) << prefix;
      EXPECT_EQ(at("efficiency basis", "efficiency_basis"), "separate_multiply_add_peak");
      const double median = std::stod(at("median (ns)", "median_ns"));
      EXPECT_LE(std::stod(at("min (ns)", "min_ns")), median);
      EXPECT_LE(median, std::stod(at("max (ns)", "max_ns")));
      EXPECT_LE(std::stod(at("median low (ns)", "median_low_ns")), median);
      EXPECT_LE(median, std::stod(at("median high (ns)", "median_high_ns")));
      const double rate = std::stod(at("GFLOP/s", "gflops"));
      EXPECT_LE(std::stod(at("GFLOP/s min", "gflops_min")), rate);
      EXPECT_LE(rate, std::stod(at("GFLOP/s max", "gflops_max")));
    }
  }
  EXPECT_EQ(temporaryFilesIn(dir.path("")), 0);

  // A signal after the first combination: every file keeps it, the JSON one marked.
  const std::string cutJson = dir.path("cut.json"), cutCsv = dir.path("cut.csv"),
                    cutMd = dir.path("cut.md");
  const ProcessResult cut = runReportTool(
      {"--n", "64,1500", "--repeat", "300", "--seed", "3", "--no-peak", "--summary", "--out",
       cutJson, "--out", cutCsv, "--out", cutMd},
      {.signal = SIGTERM, .signalWhen = "PASSED"});
  EXPECT_EQ(cut.status, 128 + SIGTERM) << cut.err;
  const json marked = documentIn(cutJson);
  EXPECT_EQ(marked["interrupted_by"], "SIGTERM");
  EXPECT_EQ(marked["benchmarks"].size(), 1u);
  EXPECT_EQ(csvRows(readAll(cutCsv)).size(), 2u) << readAll(cutCsv);
  EXPECT_EQ(markdownRows(readAll(cutMd)).size(), 2u) << readAll(cutMd);
  EXPECT_EQ(temporaryFilesIn(dir.path("")), 0);
}

// Names that collide are refused before anything runs, the names shown printable.
TEST(ReportOutputs, OutFilesThatNameOneFileAreRefusedBeforeAnyRun) {
  ScratchDirectory dir("lubench-same-out");
  const std::string odd = dir.path("a\n\"b.json");
  const std::string linked = dir.path("link.json");
  ASSERT_EQ(symlink(odd.c_str(), linked.c_str()), 0);
  for (const auto& arguments :
       {std::vector<std::string>{"--out", odd, "--out", odd},
        {"--out", odd, "--out", linked},
        {"--out", dir.path("p.svg"), "--out", dir.path("other.json"), "--plot", dir.path("p.svg")},
        {"--out", dir.path("one.json"), dir.path("two.json")}}) {
    const ProcessResult refused = runReportTool(quickWith(arguments));
    EXPECT_EQ(refused.status, 64) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err.find("a\n"), std::string::npos) << refused.err;
  }
  // Each file is a document the signal handler closes: their number is bounded.
  std::vector<std::string> many;
  for (int i = 0; i < 17; ++i) many.insert(many.end(), {"--out", dir.path(std::to_string(i))});
  const ProcessResult tooMany = runReportTool(quickWith(many));
  EXPECT_EQ(tooMany.status, 64);
  EXPECT_NE(tooMany.err.find("--out: at most 16 files, not 17"), std::string::npos) << tooMany.err;
  const ProcessResult twice = runReportTool(quickWith({"--out", odd, "--out", linked}));
  EXPECT_NE(twice.err.find("a\\x0A\"b.json and --out " + dir.path("link.json") +
                           " name the same file: each needs its own"),
            std::string::npos)
      << twice.err;
  EXPECT_FALSE(fs::exists(odd));
  EXPECT_EQ(temporaryFilesIn(dir.path("")), 0);
}

// --format json is --json; table is text's older name; --json beside another format is refused.
TEST(ReportOutputs, FormatNamesAndTheirOlderSpellings) {
  const std::vector<std::string> run = {"--n", "32", "--seed", "1", "--no-peak"};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> arguments = run;
    arguments.insert(arguments.end(), more.begin(), more.end());
    return runReportTool(arguments);
  };
  const ProcessResult flag = with({"--json"});
  const ProcessResult named = with({"--format", "json"});
  const ProcessResult both = with({"--json", "--format", "json"});
  for (const ProcessResult* result : {&flag, &named, &both}) {
    ASSERT_EQ(result->status, 0) << result->err;
  }
  const json a = json::parse(flag.out, nullptr, false), b = json::parse(named.out, nullptr, false);
  ASSERT_FALSE(b.is_discarded()) << named.out;
  EXPECT_EQ(b["document_kind"], "run");
  EXPECT_EQ(b["benchmarks"][0]["fingerprint"], a["benchmarks"][0]["fingerprint"]);
  // The same keys at every level the two documents share.
  for (const auto& [x, y] : {std::pair{a, b}, std::pair{a["context"], b["context"]},
                             std::pair{a["benchmarks"][0], b["benchmarks"][0]}}) {
    std::vector<std::string> xKeys, yKeys;
    for (const auto& item : x.items()) xKeys.push_back(item.key());
    for (const auto& item : y.items()) yKeys.push_back(item.key());
    EXPECT_EQ(xKeys, yKeys);
  }
  const ProcessResult table = with({"--format", "table"});
  const ProcessResult text = with({"--format", "text"});
  EXPECT_EQ(table.status, 0);
  EXPECT_EQ(withoutFigures(table.out), withoutFigures(text.out));
  EXPECT_NE(text.out.find("result: PASSED"), std::string::npos);
  for (const char* other : {"md", "csv", "text", "table"}) {
    EXPECT_EQ(with({"--json", "--format", other}).status, 64) << other;
  }
  const ProcessResult bad = with({"--format", "markdown"});
  EXPECT_EQ(bad.status, 64);
  EXPECT_NE(bad.err.find("expected text, md, csv or json, got 'markdown'"), std::string::npos)
      << bad.err;
}

TEST(ReportOutputs, TextThatIsNotUtf8BecomesReplacementCharacters) {
  ScratchDirectory dir("lubench-utf8");
  const std::string replacement = "\xef\xbf\xbd";
  // From the user.
  const ProcessResult context = runReportTool(
      {"--n", "32", "--seed", "1", "--no-peak", "--json", "--context", "k\xff=v\xfe"});
  EXPECT_EQ(context.status, 0) << context.err;
  const json withContext = json::parse(context.out, nullptr, false);
  ASSERT_FALSE(withContext.is_discarded()) << context.out;
  EXPECT_EQ(withContext["context"]["k" + replacement], "v" + replacement);
  // From the system: the executable's own path.
  const std::string strange = dir.path("bin\xff");
  fs::create_directory(strange);
  fs::copy_file(LUBENCH_REPORT_EXECUTABLE, strange + "/lubench-report");
  const ProcessResult moved =
      runProcess(strange + "/lubench-report", {"--n", "32", "--seed", "1", "--no-peak", "--json"});
  EXPECT_EQ(moved.status, 0) << moved.err;
  const json fromMoved = json::parse(moved.out, nullptr, false);
  ASSERT_FALSE(fromMoved.is_discarded());
  EXPECT_NE(fromMoved["context"]["executable"].get<std::string>().find("bin" + replacement),
            std::string::npos);
  // From file names, in compare's JSON and text.
  const std::string oddName = dir.write("old\xff.json", context.out);
  const ProcessResult compared = runReportTool({"compare", oddName, oddName, "--format", "json"});
  EXPECT_EQ(compared.status, 0) << compared.err;
  const json comparison = json::parse(compared.out, nullptr, false);
  ASSERT_FALSE(comparison.is_discarded()) << compared.out;
  EXPECT_NE(comparison["comparisons"][0]["old"].get<std::string>().find("old" + replacement),
            std::string::npos);
  EXPECT_NE(runReportTool({"compare", oddName, oddName}).out.find("old\\xFF.json against"),
            std::string::npos);
}

// One run writes each --out in the format its name says, beside standard output's own; the same
// runs stand in every file, and outputs that would overwrite each other are refused first.
TEST(ReportOutputs, EachOutTakesTheFormatItsNameSays) {
  ScratchDirectory files("lubench-formats");
  const std::string asJson = files.path("r.json"), asMd = files.path("r.md"),
                    asCsv = files.path("R.CSV"), asOther = files.path("r.txt");
  const ProcessResult all =
      runReportTool({"--n", "64,96", "--seed", "2", "--no-peak", "--format", "json", "--out",
                     asJson, "--out", asMd, "--out", asCsv, "--out", asOther});
  ASSERT_EQ(all.status, 0) << all.err;
  const json printed = json::parse(all.out, nullptr, false);
  ASSERT_FALSE(printed.is_discarded()) << "--format json prints the document";
  EXPECT_EQ(documentIn(asJson), printed);
  EXPECT_EQ(documentIn(asOther), printed) << "a name without .md or .csv is the document";
  const std::string markdown = readAll(asMd), csv = readAll(asCsv);
  EXPECT_TRUE(markdown.starts_with("| n |")) << markdown;
  EXPECT_TRUE(csv.starts_with("n,block,median_ns,")) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3) << csv;
  for (const json& combination : printed["benchmarks"]) {
    const std::string fingerprint = combination["fingerprint"];
    EXPECT_NE(markdown.find(fingerprint), std::string::npos) << markdown;
    EXPECT_NE(csv.find(fingerprint), std::string::npos) << csv;
  }

  // The rows carry the spread of the timed region and the efficiency's basis, the document's
  // own figures: a sweep of six runs, which has an interval of its median.
  const std::string spreadCsv = files.path("spread.csv");
  const ProcessResult spread = runReportTool(
      {"--n", "48", "--seed", "4", "--repeat", "6", "--json", "--out", spreadCsv});
  ASSERT_EQ(spread.status, 0) << spread.err;
  const json timed = json::parse(spread.out, nullptr, false)["benchmarks"][0]["timed_ns"];
  std::istringstream rows(readAll(spreadCsv));
  std::string header, row;
  std::getline(rows, header);
  std::getline(rows, row);
  const auto cell = [&](const std::string& name) {
    std::vector<std::string> names, cells;
    for (std::istringstream h(header); std::getline(h, names.emplace_back(), ',');) {}
    for (std::istringstream c(row); std::getline(c, cells.emplace_back(), ',');) {}
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() || std::size_t(at - names.begin()) >= cells.size()
               ? std::string("missing")
               : cells[at - names.begin()];
  };
  const auto whole = [](const json& value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value.get<double>());
    return std::string(text);
  };
  EXPECT_TRUE(header.starts_with("n,block,median_ns,gflops,efficiency,")) << header;
  EXPECT_EQ(cell("min_ns"), whole(timed["min"]));
  EXPECT_EQ(cell("max_ns"), whole(timed["max"]));
  ASSERT_TRUE(timed["median_ci"].is_object()) << timed;
  EXPECT_EQ(cell("median_low_ns"), whole(timed["median_ci"]["low"]));
  EXPECT_EQ(cell("median_high_ns"), whole(timed["median_ci"]["high"]));
  EXPECT_LE(std::stod(cell("min_ns")), std::stod(cell("median_low_ns")));
  EXPECT_LE(std::stod(cell("median_high_ns")), std::stod(cell("max_ns")));
  EXPECT_EQ(cell("efficiency_basis"), "separate_multiply_add_peak");
  EXPECT_EQ(json::parse(spread.out, nullptr, false)["benchmarks"][0]["efficiency_basis"],
            "separate_multiply_add_peak");

  // The older spellings: --json is --format json, table is text.
  const ProcessResult older = runReportTool({"--n", "64", "--seed", "2", "--no-peak", "--json"});
  EXPECT_EQ(json::parse(older.out, nullptr, false)["benchmarks"][0]["fingerprint"],
            printed["benchmarks"][0]["fingerprint"]);
  for (const char* text : {"text", "table"}) {
    const ProcessResult table =
        runReportTool({"--n", "64", "--seed", "2", "--no-peak", "--format", text});
    EXPECT_EQ(table.status, 0) << text;
    EXPECT_NE(table.out.find("result: PASSED"), std::string::npos) << text;
  }
  EXPECT_EQ(runReportTool({"--n", "64", "--seed", "2", "--no-peak", "--json", "--format", "json"})
                .status,
            0);
  for (const std::vector<std::string>& refused :
       {std::vector<std::string>{"--format", "TEXT"},
        {"--json", "--format", "csv"},
        {"--out", files.path("same.json"), "--out", files.path("./same.json")},
        {"--out", files.path("same.md"), "--plot", files.path("same.md")}}) {
    std::vector<std::string> arguments = {"--n", "64", "--seed", "2", "--no-peak"};
    arguments.insert(arguments.end(), refused.begin(), refused.end());
    const ProcessResult result = runReportTool(arguments);
    EXPECT_EQ(result.status, 64) << refused.back() << result.err;
  }
  EXPECT_FALSE(fs::exists(files.path("same.json"))) << "nothing runs before the refusal";

  // A signal leaves every file whole, each with the combination that finished.
  const std::string stoppedJson = files.path("stopped.json"), stoppedCsv = files.path("stopped.csv");
  const ProcessResult signalled =
      runReportTool({"--n", "64,1500", "--repeat", "300", "--seed", "3", "--no-peak", "--summary",
                     "--out", stoppedJson, "--out", stoppedCsv},
                    {.signal = SIGTERM, .signalWhen = "PASSED"});
  EXPECT_EQ(signalled.status, 128 + SIGTERM);
  const json stopped = documentIn(stoppedJson);
  EXPECT_EQ(stopped["interrupted_by"], "SIGTERM");
  ASSERT_EQ(stopped["benchmarks"].size(), 1u);
  const std::string stoppedRows = readAll(stoppedCsv);
  EXPECT_NE(stoppedRows.find(stopped["benchmarks"][0]["fingerprint"].get<std::string>()),
            std::string::npos)
      << stoppedRows;
  EXPECT_EQ(temporaryFilesIn(files.path("")), 0);
}

TEST(ReportTool, OutFormatPlotContextAndAffinity) {
  ScratchDirectory files("lubench-outputs");
  const std::string out = files.path("result.json");
  // The JSON document in the file, the table on standard output, one run for both.
  const ProcessResult both = runReportTool({"--n", "64,96", "--seed", "2", "--no-peak", "--out",
                                            out, "--context", "board=lab-7", "--affinity", "0"});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_NE(both.out.find("result: PASSED"), std::string::npos);
  std::ifstream saved(out);
  const json document = json::parse(saved, nullptr, false);
  ASSERT_FALSE(document.is_discarded());
  EXPECT_EQ(document["benchmarks"].size(), 2u);
  EXPECT_EQ(document["context"]["board"], "lab-7");
  EXPECT_EQ(document["context"]["pinned_cpu"], 0);
  EXPECT_NE(both.out.find(document["benchmarks"][1]["fingerprint"].get<std::string>()),
            std::string::npos);
  EXPECT_EQ(runReportTool({"--n", "8", "--context", "git_commit=x"}).status, 64);
  EXPECT_EQ(runReportTool({"--n", "8", "--context", "novalue"}).status, 64);

  // A run that fails before anything finished leaves no file, not even a temporary one.
  const std::string refused = files.path("refused.json");
  EXPECT_EQ(runReportTool({"--n", "2000000000", "--out", refused}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(refused));
  // A signal leaves the file whole and marked.
  const std::string stopped = files.path("stopped.json");
  const ProcessResult signalled = runReportTool({"--n", "64,1500", "--repeat", "300", "--seed", "3",
                                                 "--no-peak", "--summary", "--out", stopped},
                                                {.signal = SIGTERM, .signalWhen = "PASSED"});
  EXPECT_EQ(signalled.status, 128 + SIGTERM);
  std::ifstream stoppedFile(stopped);
  const json marked = json::parse(stoppedFile, nullptr, false);
  ASSERT_FALSE(marked.is_discarded());
  EXPECT_EQ(marked["interrupted_by"], "SIGTERM");
  EXPECT_EQ(marked["benchmarks"].size(), 1u);
  EXPECT_EQ(temporaryFilesIn(files.path("")), 0) << "no temporary file stays behind";

  // The summary rows alone.
  const ProcessResult csv =
      runReportTool({"--n", "64,96", "--seed", "2", "--no-peak", "--format", "csv"});
  EXPECT_EQ(csv.status, 0);
  EXPECT_TRUE(csv.out.starts_with("n,block,median_ns,gflops,")) << csv.out;
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 3);
  EXPECT_TRUE(runReportTool({"--n", "64", "--no-peak", "--format", "md"}).out.starts_with("| n |"));
  EXPECT_EQ(runReportTool({"--n", "64", "--format", "md", "--json"}).status, 64);

  // The plot: without gnuplot, one line saying what to install.
  const ProcessResult noGnuplot = runReportTool({"--n", "64", "--plot", files.path("p.svg")},
                                                {.environment = {"PATH=/nonexistent"}});
  EXPECT_EQ(noGnuplot.status, 64);
  EXPECT_NE(noGnuplot.err.find("install the Debian package gnuplot-nox"), std::string::npos);
  EXPECT_EQ(runReportTool({"--n", "64", "--plot", files.path("p.pdf")}).status, 64);
  if (gnuplotInstalled()) {
    const ProcessResult plotted = runReportTool(
        {"--n", "32,64", "--block", "16,32", "--seed", "1", "--plot", files.path("p.svg")});
    EXPECT_EQ(plotted.status, 0) << plotted.err;
    EXPECT_GT(std::filesystem::file_size(files.path("p.svg")), 1000u);
  }
}

}  // namespace
