#include "export.hpp"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <nlohmann/json.hpp>

#include "command_line.hpp"
#include "output.hpp"
#include "output_target.hpp"
#include "program.hpp"
#include "statistics.hpp"
#include "subcommand_output.hpp"
#include "text_format.hpp"

namespace {

using json = nlohmann::ordered_json;

// Google Benchmark's context keys, taken from the document's context where it has them.
const char* const kSharedContextKeys[] = {"date",      "host_name",          "executable",
                                          "num_cpus",  "mhz_per_cpu",        "cpu_scaling_enabled",
                                          "caches",    "load_avg",           "library_build_type"};

// "lu/n:4096/block:32", and "/kernel:NAME" when a kernel was asked for: the names of the
// automatic choice stay as they were before kernels could be asked for.
std::string benchmarkName(const SavedCombination& c) {
  std::string name = "lu/n:" + std::to_string(c.n) + "/block:" + std::to_string(c.block);
  if (c.kernelOption != "auto") name += "/kernel:" + c.kernelOption;
  return name;
}

// Collects the pieces of an export and hands them to the output about 64 KiB at a time, so that
// a run's few hundred bytes do not each cost a write.
class Pieces {
 public:
  explicit Pieces(const ExportWriter& write) : write_(write) {}
  // Adds text; false once the output has failed.
  bool add(std::string_view text) {
    pending_.append(text);
    return pending_.size() < kChunk || flush();
  }
  bool flush() {
    const bool written = failed_ || pending_.empty() || write_(pending_);
    pending_.clear();
    failed_ = failed_ || !written;
    return !failed_;
  }

 private:
  static constexpr std::size_t kChunk = 64u << 10;
  const ExportWriter& write_;
  std::string pending_;
  bool failed_ = false;
};

// value as JSON indented by 2, every line after its first indented by spaces more: as it stands
// at that depth in the whole export.
std::string nested(const json& value, int spaces) {
  std::string text = jsonText(value, 2);
  const std::string newline = "\n" + std::string(static_cast<std::size_t>(spaces), ' ');
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') {
      out += newline;
    } else {
      out += c;
    }
  }
  return out;
}

json googleContext(const SavedDocument& document) {
  json original = json::parse(document.contextText, nullptr, false);
  if (!original.is_object()) original = nullptr;
  json context = json::object();
  for (const char* key : kSharedContextKeys) {
    if (original.is_object() && original.contains(key)) context[key] = original[key];
  }
  // Google Benchmark writes mhz_per_cpu as a whole number.
  if (context.contains("mhz_per_cpu") && context["mhz_per_cpu"].is_number()) {
    context["mhz_per_cpu"] = std::llround(context["mhz_per_cpu"].get<double>());
  }
  context["json_schema_version"] = 1;
  context["lubench_export"] = json{
      {"source", document.path},
      {"statistic",
       "every timed run of each combination is an iteration entry: real_time is its timed "
       "region in nanoseconds; cpu_time equals real_time, since only the wall clock of the timed "
       "region is measured; the mean, median, stddev and cv aggregates are over those runs"}};
  context["lubench_context"] = original;
  return context;
}

// Google Benchmark's JSON, one entry at a time: only one entry is ever held.
bool googleBenchmark(const SavedDocument& document, Pieces& out) {
  if (!out.add("{\n  \"context\": " + nested(googleContext(document), 2) + ",\n  \"benchmarks\": [")) {
    return false;
  }
  bool first = true;
  const auto add = [&](const json& entry) {
    const bool added = out.add((first ? "\n    " : ",\n    ") + nested(entry, 4));
    first = false;
    return added;
  };
  int family = 0;
  for (const SavedCombination& c : document.combinations) {
    const std::string name = benchmarkName(c);
    const int runs = static_cast<int>(c.timedNanoseconds.size());
    const auto entry = [&](const std::string& entryName, const char* runType) {
      return json{{"name", entryName},         {"family_index", family},
                  {"per_family_instance_index", 0}, {"run_name", name},
                  {"run_type", runType},       {"repetitions", runs}};
    };
    for (int i = 0; i < runs; ++i) {
      json run = entry(name, "iteration");
      run["repetition_index"] = i;
      run["threads"] = 1;
      run["iterations"] = 1;
      run["real_time"] = c.timedNanoseconds[static_cast<std::size_t>(i)];
      run["cpu_time"] = c.timedNanoseconds[static_cast<std::size_t>(i)];
      run["time_unit"] = "ns";
      if (!add(run)) return false;
    }
    const Distribution d = describe(c.timedNanoseconds);
    const std::pair<const char*, double> aggregates[] = {
        {"mean", d.mean}, {"median", d.spread.median}, {"stddev", d.stddev}, {"cv", d.cv}};
    for (const auto& [aggregate, value] : aggregates) {
      json a = entry(name + "_" + aggregate, "aggregate");
      a["threads"] = 1;
      a["aggregate_name"] = aggregate;
      a["aggregate_unit"] = std::strcmp(aggregate, "cv") == 0 ? "percentage" : "time";
      a["iterations"] = runs;
      a["real_time"] = value;
      a["cpu_time"] = value;
      a["time_unit"] = "ns";
      if (!add(a)) return false;
    }
    ++family;
  }
  return out.add(first ? "]\n}\n" : "\n  ]\n}\n");
}

// Bencher's metric format, one combination at a time.
bool bencherMetrics(const SavedDocument& document, Pieces& out) {
  bool first = true;
  for (const SavedCombination& c : document.combinations) {
    const Distribution d = describe(c.timedNanoseconds);
    json latency{{"value", d.spread.median}};
    if (d.medianInterval) {
      latency["lower_value"] = d.medianInterval->low;
      latency["upper_value"] = d.medianInterval->high;
    }
    const std::string key = jsonText(json(benchmarkName(c) + "/median"));
    if (!out.add((first ? "{\n  " : ",\n  ") + key + ": " +
                 nested(json{{"latency", latency}}, 2))) {
      return false;
    }
    first = false;
  }
  return out.add(first ? "{}\n" : "\n}\n");
}

// Says that memory ran out while doing what to the document at path; the status to exit with.
int outOfMemory(const std::string& name, const std::string& path, const char* doing) {
  std::fprintf(stderr, "%s: %s: out of memory while %s it\n", name.c_str(), printable(path).c_str(),
               doing);
  return kStatusSystem;
}

// The export of the document read from path written to target as it is made (under a temporary
// name until complete), or to standard output. False, after saying why, when the output fails.
bool writeTo(const SavedDocument& document, const std::string& format,
             const std::optional<OutputTarget>& target, const std::string& name,
             const std::string& path) {
  if (!target) {
    StandardOutput out(kProgram);
    writeExport(document, format, [&out](std::string_view piece) {
      out.write(piece);
      return true;
    });
    return out.finish();
  }
  std::string error;
  std::unique_ptr<PendingOutput> file = PendingOutput::create(*target, error);
  if (file) {
    const bool written = writeExport(
        document, format, [&file](std::string_view piece) { return file->append(piece); });
    // A signal while a FIFO waits for its reader: the input is untouched, so nothing is lost.
    const std::string lost = "the export was not written (" + printable(path) +
                             " is unchanged: export it again)";
    if ((!written || !commitWaiting(*file, lost, error)) && error.empty()) {
      error = "cannot write " + printable(target->given) + ": " + std::strerror(file->error());
    }
  }
  if (file && error.empty()) return true;
  std::fprintf(stderr, "%s: %s\n", name.c_str(), printable(error).c_str());
  return false;
}

}  // namespace

bool writeExport(const SavedDocument& document, const std::string& format,
                 const ExportWriter& write) {
  Pieces out(write);
  const bool added =
      format == "gbench" ? googleBenchmark(document, out) : bencherMetrics(document, out);
  return out.flush() && added;
}

std::string exportDocument(const SavedDocument& document, const std::string& format) {
  std::string text;
  writeExport(document, format, [&text](std::string_view piece) {
    text.append(piece);
    return true;
  });
  return text;
}

int runExport(int argc, char** argv) {
  CLI::App app{
      "Writes a saved lubench-report --json document in another tool's format: gbench, Google "
      "Benchmark's JSON (every timed run an iteration, with mean, median, stddev and cv "
      "aggregates; cpu_time equals real_time), which its compare.py reads; or bmf, Bencher's "
      "metric format (the median timed region and its 95 % interval as latency).",
      "lubench-report export"};
  app.option_defaults()->disable_flag_override();
  std::string path, format, outPath;
  app.add_option("document", path, "DOC.json: a document of lubench-report --json")->required();
  app.add_option("--format", format, "gbench or bmf")
      ->required()
      ->check(CLI::IsMember({"gbench", "bmf"}));
  const CLI::Option* outOption =
      app.add_option("--out", outPath,
                     "write to FILE instead of standard output ({host} and {rank} as in the "
                     "main command's --out; never the document read)")
          ->type_name("FILE");
  if (const auto status = parseArguments(app, argc, argv, std::string(kProgram) + " export")) {
    return *status;
  }
  const std::string name = std::string(kProgram) + " export";
  const SubcommandOut out = resolveSubcommandOut(outOption->count() > 0, outPath, {path}, name);
  if (out.refused) return kStatusUsage;
  std::optional<DocumentReading> reading;
  try {
    reading = readDocument(path);
  } catch (const std::bad_alloc&) {
    return outOfMemory(name, path, "reading");
  } catch (const std::length_error&) {
    return outOfMemory(name, path, "reading");
  }
  for (const std::string& problem : reading->problems) {
    std::fprintf(stderr, "%s export: %s\n", kProgram, problem.c_str());
  }
  if (!reading->document) return kStatusUsage;
  for (const std::string& warning : reading->warnings) {
    std::fprintf(stderr, "%s export: warning: %s\n", kProgram, printable(warning).c_str());
  }
  // An export without a benchmark would read to its tools as a run that measured nothing.
  if (reading->document->combinations.empty()) {
    std::fprintf(stderr, "%s export: %s holds no combination: there is nothing to export\n",
                 kProgram, printable(path).c_str());
    return kStatusUsage;
  }
  try {
    return writeTo(*reading->document, format, out.target, name, path) ? 0 : kStatusSystem;
  } catch (const std::bad_alloc&) {
    return outOfMemory(name, path, "exporting");
  }
}
