#include "document_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <tuple>

#include "json_schema.hpp"
#include "text_format.hpp"

namespace {

using json = nlohmann::json;

// A value as it is shown in a message: one line of JSON, at most about 40 characters.
std::string shown(const json& value) {
  std::string text = printable(jsonText(value));
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return text;
}

const char* fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Collects the problems and warnings of one document, each prefixed with its file's name.
class Checker {
 public:
  explicit Checker(const std::string& path) : name_(printable(path)) {}

  void problem(const std::string& where, const std::string& what) {
    reading_.problems.push_back(name_ + ": " + where + (where.empty() ? "" : ": ") + what);
  }
  void warning(const std::string& what) { reading_.warnings.push_back(name_ + ": " + what); }
  bool clean() const { return reading_.problems.empty(); }

  // The member key of object, which must be there; null after saying so otherwise.
  const json* member(const json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end()) {
      problem(where, std::string("\"") + key + "\" is missing");
      return nullptr;
    }
    return &*found;
  }

  // A whole number in [smallest, largest] at key of object.
  std::optional<long long> wholeNumber(const json& object, const char* key, long long smallest,
                                       long long largest, const std::string& where) {
    const json* value = member(object, key, where);
    if (value == nullptr) return std::nullopt;
    std::optional<long long> number;
    if (value->is_number_unsigned()) {
      const auto u = value->get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(LLONG_MAX)) number = static_cast<long long>(u);
    } else if (value->is_number_integer()) {
      number = value->get<std::int64_t>();
    }
    if (!number || *number < smallest || *number > largest) {
      problem(where, std::string("\"") + key + "\" must be a whole number from " +
                         std::to_string(smallest) + " to " + std::to_string(largest) + ", not " +
                         shown(*value));
      return std::nullopt;
    }
    return number;
  }

  DocumentReading finish() {
    if (reading_.problems.size() > static_cast<std::size_t>(kMaxProblemsPerFile)) {
      const std::size_t more = reading_.problems.size() - kMaxProblemsPerFile;
      reading_.problems.resize(kMaxProblemsPerFile);
      reading_.problems.push_back(name_ + ": " + std::to_string(more) + " more problem" +
                                  (more == 1 ? "" : "s") + " not listed");
    }
    if (!reading_.problems.empty()) reading_.document.reset();
    return std::move(reading_);
  }

  DocumentReading reading_;

 private:
  std::string name_;
};

bool isFingerprint(const json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A name of a vector path or tile kernel, or a kernel option: short and plain, so that it can be
// shown and used in the names of an export as it is.
bool isName(const json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return !text.empty() && text.size() <= 64 &&
         text.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
             "_.+-") == std::string::npos;
}

// The name at key of object: empty when it is missing or null, and after a warning when it is
// not a name (what ran is a detail: the timed regions stay usable without it).
std::string nameAt(const json& object, const char* key, const std::string& where, Checker& check) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return {};
  if (isName(*found)) return found->get<std::string>();
  check.warning(where + ": \"" + key + "\" left out: " + shown(*found) + " is not a name");
  return {};
}

// The context's "vector_paths" as one line, "avx512: k1, k2; avx2: k3"; nothing when it is not
// an array of paths, each with a name and an array of kernels' names.
std::optional<std::string> heldPathsText(const json& paths) {
  if (!paths.is_array() || paths.empty()) return std::nullopt;
  std::string held;
  for (const json& path : paths) {
    if (!path.is_object()) return std::nullopt;
    const auto name = path.find("name");
    const auto kernels = path.find("kernels");
    if (name == path.end() || !isName(*name) || kernels == path.end() || !kernels->is_array()) {
      return std::nullopt;
    }
    std::string line = name->get<std::string>() + ":";
    for (std::size_t k = 0; k < kernels->size(); ++k) {
      if (!isName((*kernels)[k])) return std::nullopt;
      line += (k == 0 ? " " : ", ") + (*kernels)[k].get<std::string>();
    }
    held += (held.empty() ? "" : "; ") + line;
  }
  return held;
}

// What the build holds: its vector_paths; in an older document, its one vector_path,
// contextPath.
std::string heldPathsOf(const json& context, const std::string& contextPath, Checker& check) {
  const auto paths = context.find("vector_paths");
  if (paths != context.end() && !paths->is_null()) {
    if (const std::optional<std::string> held = heldPathsText(*paths)) return *held;
    check.warning("context: \"vector_paths\" left out: " + shown(*paths) +
                  " is not an array of paths with their kernels");
  }
  return contextPath;
}

// One run's step times: empty when they are missing, and after a warning when they are not an
// object of numbers of nanoseconds (they are a detail: the timed region stays usable without
// them).
std::map<std::string, double> stepsOf(const json& run, const std::string& at, Checker& check) {
  std::map<std::string, double> steps;
  const auto found = run.find("steps_ns");
  if (found == run.end()) return {};
  if (!found->is_object()) {
    check.warning(at + ": step times left out: \"steps_ns\" is " + shown(*found));
    return {};
  }
  for (const auto& [key, value] : found->items()) {
    const double ns = value.is_number() ? value.get<double>() : std::nan("");
    if (!(ns >= 0 && ns <= kMaxTimedNanoseconds)) {
      check.warning(at + ": step times left out: \"" + printable(key) + "\" is " + shown(value));
      return {};
    }
    steps[key] = ns;
  }
  return steps;
}

// The timed regions of one benchmark's runs, and their step times; problems for each bad one.
struct RunTimes {
  std::vector<double> times;
  std::vector<std::map<std::string, double>> steps;
};
RunTimes timesOf(const json& runs, const std::string& where, Checker& check) {
  RunTimes result;
  for (std::size_t j = 0; j < runs.size(); ++j) {
    const std::string at = where + ", runs[" + std::to_string(j) + "]";
    if (!runs[j].is_object()) {
      check.problem(at, "must be an object, not " + shown(runs[j]));
      continue;
    }
    const json* time = check.member(runs[j], "timed_ns", at);
    if (time == nullptr) continue;
    const double value = time->is_number() ? time->get<double>() : std::nan("");
    if (!(value > 0 && value <= kMaxTimedNanoseconds)) {
      check.problem(at,
                    "\"timed_ns\" must be a number of nanoseconds above 0 and at most 1e18, "
                    "not " +
                        shown(*time));
      continue;
    }
    result.times.push_back(value);
    result.steps.push_back(stepsOf(runs[j], at, check));
  }
  return result;
}

// The copies of one combination; empty, after a warning, when they are not as written.
std::vector<SavedCopy> copiesOf(const json& benchmark, const std::string& where, Checker& check) {
  const auto found = benchmark.find("copies");
  if (found == benchmark.end() || found->is_null()) return {};
  std::vector<SavedCopy> copies;
  const auto leftOut = [&](const std::string& why) {
    check.warning(where + ": copies left out: " + why);
    return std::vector<SavedCopy>{};
  };
  const auto perCopy = found->is_object() ? found->find("per_copy") : found->end();
  if (perCopy == found->end() || !perCopy->is_array()) {
    return leftOut("\"copies\" has no array \"per_copy\"");
  }
  for (const json& copy : *perCopy) {
    if (!copy.is_object()) return leftOut("a copy is " + shown(copy));
    SavedCopy saved;
    const auto cpu = copy.find("cpu");
    if (cpu == copy.end() || !cpu->is_number_unsigned() || cpu->get<std::uint64_t>() > 1u << 20) {
      return leftOut("a copy has no \"cpu\" number");
    }
    saved.cpu = static_cast<int>(cpu->get<std::uint64_t>());
    const auto core = copy.find("core");
    if (core != copy.end() && core->is_number_unsigned() && core->get<std::uint64_t>() <= 1u << 20) {
      saved.core = static_cast<int>(core->get<std::uint64_t>());
    }
    const auto print = copy.find("fingerprint");
    if (print != copy.end() && isFingerprint(*print)) saved.fingerprint = print->get<std::string>();
    const auto median = copy.find("median_timed_ns");
    if (median != copy.end() && median->is_number()) {
      const double ns = median->get<double>();
      if (ns >= 0 && ns <= kMaxTimedNanoseconds) saved.medianNanoseconds = ns;
    }
    const auto finished = copy.find("finished");
    saved.finished = finished != copy.end() && finished->is_boolean() && finished->get<bool>() &&
                     saved.medianNanoseconds > 0 && !saved.fingerprint.empty();
    // How a dead copy ended; a document from before "died" names its signal alone.
    const auto died = copy.find("died"), signal = copy.find("signal");
    if (died != copy.end() && died->is_string()) saved.died = died->get<std::string>();
    if (saved.died.empty() && signal != copy.end() && signal->is_string()) {
      saved.died = "killed by " + signal->get<std::string>();
    }
    if (saved.died.size() > 200) saved.died.resize(200);  // a hostile document's megabytes
    copies.push_back(std::move(saved));
  }
  return copies;
}

// The combinations; contextPath stands in for the path that ran where a combination does not
// name one.
void readBenchmarks(const json& benchmarks, const std::string& contextPath, SavedDocument& document,
                    Checker& check) {
  // (n, block, kernel option) -> index of its first entry
  std::map<std::tuple<int, int, std::string>, std::size_t> seen;
  for (std::size_t i = 0; i < benchmarks.size(); ++i) {
    const json& benchmark = benchmarks[i];
    std::string where = "benchmarks[" + std::to_string(i) + "]";
    if (!benchmark.is_object()) {
      check.problem(where, "must be an object, not " + shown(benchmark));
      continue;
    }
    const auto n = check.wholeNumber(benchmark, "n", 1, INT_MAX, where);
    const auto block = check.wholeNumber(benchmark, "block", 1, INT_MAX, where);
    // Part of the key: a value that is not a name is a problem, never a guess.
    std::optional<std::string> kernelOption = "auto";
    const auto option = benchmark.find("kernel_option");
    if (option != benchmark.end() && !option->is_null()) {
      kernelOption.reset();
      if (isName(*option)) {
        kernelOption = option->get<std::string>();
      } else {
        check.problem(where, "\"kernel_option\" must be \"auto\" or a tile kernel's name, not " +
                                 shown(*option));
      }
    }
    if (n && block) {
      where += " (" + combinationName(int(*n), int(*block), kernelOption.value_or("auto")) + ")";
    }
    const auto seed = check.wholeNumber(benchmark, "seed", 0, UINT_MAX, where);
    const json* fingerprint = check.member(benchmark, "fingerprint", where);
    if (fingerprint != nullptr && !isFingerprint(*fingerprint)) {
      check.problem(where, "\"fingerprint\" must be 16 lower-case hexadecimal digits, not " +
                               shown(*fingerprint));
      fingerprint = nullptr;
    }
    const json* runs = check.member(benchmark, "runs", where);
    if (runs != nullptr && !runs->is_array()) {
      check.problem(where, "\"runs\" must be an array, not " + shown(*runs));
      runs = nullptr;
    }
    RunTimes times;
    if (runs != nullptr) times = timesOf(*runs, where, check);
    if (!n || !block || !kernelOption) continue;
    const auto [first, added] = seen.emplace(std::tuple{int(*n), int(*block), *kernelOption}, i);
    if (!added) {
      check.problem(where, "the combination appears again after benchmarks[" +
                               std::to_string(first->second) + "]");
      continue;
    }
    if (runs != nullptr && runs->empty()) {
      check.warning(where + " has no timed runs and is left out");
      continue;
    }
    if (!seed || fingerprint == nullptr || runs == nullptr || times.times.size() != runs->size()) {
      continue;
    }
    SavedCombination saved{int(*n),
                           int(*block),
                           unsigned(*seed),
                           fingerprint->get<std::string>(),
                           std::move(times.times),
                           std::move(times.steps),
                           copiesOf(benchmark, where, check),
                           *kernelOption};
    saved.vectorPath = nameAt(benchmark, "vector_path", where, check);
    if (saved.vectorPath.empty()) saved.vectorPath = contextPath;
    saved.kernel = nameAt(benchmark, "kernel", where, check);
    document.combinations.push_back(std::move(saved));
  }
}

// Warns of a sweep that did not finish: its document holds only part of what was asked for.
void readEnding(const json& root, SavedDocument& document, Checker& check) {
  const auto interrupted = root.find("interrupted");
  if (interrupted == root.end()) return;
  if (!interrupted->is_boolean()) {
    check.problem("", "\"interrupted\" must be true or false, not " + shown(*interrupted));
    return;
  }
  document.interrupted = interrupted->get<bool>();
  if (!document.interrupted) return;
  std::string what = "the sweep was interrupted";
  const auto by = root.find("interrupted_by");
  if (by != root.end() && by->is_string()) what += " (" + printable(by->get<std::string>()) + ")";
  const auto finished = root.find("finished_combinations");
  const auto total = root.find("combinations");
  if (finished != root.end() && total != root.end() && finished->is_number_unsigned() &&
      total->is_number_unsigned()) {
    what += " after " + std::to_string(finished->get<std::uint64_t>()) + " of " +
            std::to_string(total->get<std::uint64_t>()) + " combinations";
  }
  check.warning(what + ": it holds only what finished");
}

}  // namespace

std::string combinationName(int n, int block, const std::string& kernelOption) {
  std::string name = "n " + std::to_string(n) + ", block " + std::to_string(block);
  if (kernelOption != "auto") name += ", kernel " + printable(kernelOption);
  return name;
}

std::string combinationName(const SavedCombination& combination) {
  return combinationName(combination.n, combination.block, combination.kernelOption);
}

DocumentReading parseDocument(std::string_view text, const std::string& path) {
  Checker check(path);
  json root;
  try {
    root = json::parse(text.begin(), text.end());
  } catch (const json::parse_error& error) {
    check.problem(
        "", "is not JSON (stops at byte " + std::to_string(error.byte) + "; text must be UTF-8)");
    return check.finish();
  } catch (const json::exception&) {
    // The parser's other refusal: a number beyond the range of a double, such as 1e400.
    check.problem("", "holds a number too large for a double: not a document");
    return check.finish();
  }
  if (!root.is_object()) {
    check.problem("", "is not a lubench-report document: not a JSON object");
    return check.finish();
  }
  // Other documents of lubench-report's are named, so that nobody guesses why they do not read.
  const auto kind = root.find("document_kind");
  if (kind != root.end() && *kind != "run") {
    check.problem("", "is " +
                          std::string(*kind == "comparison"   ? "a comparison's document"
                                      : *kind == "ab_session" ? "an A/B session's document"
                                      : *kind == "fleet"      ? "a fleet's report"
                                                              : "a document of unknown kind " +
                                                                    shown(*kind)) +
                          ", not a run's (\"document_kind\": \"run\")");
    return check.finish();
  }
  SavedDocument document;
  document.path = path;
  const json* context = check.member(root, "context", "");
  if (context != nullptr && !context->is_object()) {
    check.problem("", "\"context\" must be an object, not " + shown(*context));
    context = nullptr;
  }
  std::string contextPath;
  if (context != nullptr) {
    const json* version = check.member(*context, "json_schema_version", "context");
    if (version != nullptr) {
      if (!version->is_number_integer() || *version != kJsonSchemaVersion) {
        check.problem("", "has JSON schema version " + shown(*version) +
                              "; this reader knows version " + std::to_string(kJsonSchemaVersion));
        return check.finish();
      }
      document.schemaVersion = kJsonSchemaVersion;
    }
    document.contextText = jsonText(*context);
    for (const auto& [key, value] : context->items()) {
      if (value.is_null()) continue;
      document.context[key] = value.is_string() ? value.get<std::string>() : jsonText(value);
    }
    contextPath = nameAt(*context, "vector_path", "context", check);
    document.heldPaths = heldPathsOf(*context, contextPath, check);
  }
  const json* benchmarks = check.member(root, "benchmarks", "");
  if (benchmarks != nullptr && !benchmarks->is_array()) {
    check.problem("", "\"benchmarks\" must be an array, not " + shown(*benchmarks));
    benchmarks = nullptr;
  }
  if (benchmarks != nullptr) readBenchmarks(*benchmarks, contextPath, document, check);
  readEnding(root, document, check);
  if (check.clean()) check.reading_.document = std::move(document);
  return check.finish();
}

DocumentReading readDocument(const std::string& path) {
  DocumentReading failed;
  const std::string name = printable(path);
  // Non-blocking, so that a FIFO without a writer cannot hold the reader; a regular file reads
  // the same either way.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    failed.problems.push_back("cannot read " + name + ": " + std::strerror(errno));
    return failed;
  }
  struct stat status {};
  std::string text;
  if (fstat(fd, &status) != 0) {
    failed.problems.push_back("cannot read " + name + ": " + std::strerror(errno));
  } else if (!S_ISREG(status.st_mode)) {
    failed.problems.push_back(name + " is " + fileKind(status.st_mode) +
                              ", not a document: only regular files are read");
  } else if (static_cast<std::uintmax_t>(status.st_size) > kMaxDocumentBytes) {
    failed.problems.push_back(name + " is larger than " + std::to_string(kMaxDocumentBytes >> 20) +
                              " MiB: not a document");
  } else {
    // The file may grow while it is read: never past the cap.
    char buffer[65536];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        failed.problems.push_back("cannot read " + name + ": " + std::strerror(errno));
        break;
      }
      if (got == 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
      if (text.size() > kMaxDocumentBytes) {
        failed.problems.push_back(name + " is larger than " +
                                  std::to_string(kMaxDocumentBytes >> 20) + " MiB: not a document");
        break;
      }
    }
  }
  close(fd);
  if (!failed.problems.empty()) return failed;
  return parseDocument(text, path);
}
