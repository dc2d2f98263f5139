#include "kind_readers.hpp"

#include <cmath>
#include <limits>

#include "text_format.hpp"

// The A/B session's, the comparison's and the fleet's documents, as lubench-report writes them
// (docs/json-format.md). Only what a picture of them needs is read; every other key is ignored,
// so that keys added later change nothing. Each value read is checked for its type and range:
// a key that is missing or mistyped is a problem naming its place, never a guess.

namespace document_reading {
namespace {

constexpr long long kMaxWhole = 2147483647;  // n and block
constexpr long long kMaxSeed = 4294967295;

// "\"key\"", as messages name a key.
std::string quotedKey(const char* key) { return formatText("\"%s\"", key); }

// The finite number at key of object, within [smallest, largest]; nothing after a problem.
std::optional<double> numberAt(const json& object, const char* key, double smallest,
                               double largest, const std::string& where, Checker& check) {
  const json* value = check.member(object, key, where);
  if (value == nullptr) return std::nullopt;
  if (!value->is_number() || !std::isfinite(value->get<double>()) ||
      value->get<double>() < smallest || value->get<double>() > largest) {
    check.problem(where, quotedKey(key) + " must be a number from " +
                             formatText("%g", smallest) + " to " + formatText("%g", largest) +
                             ", not " + shown(*value));
    return std::nullopt;
  }
  return value->get<double>();
}

// As numberAt, where null (or no key) stands for "not known".
std::optional<double> numberOrNullAt(const json& object, const char* key, double smallest,
                                     double largest, const std::string& where, Checker& check,
                                     bool& ok) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  const std::optional<double> value = numberAt(object, key, smallest, largest, where, check);
  if (!value) ok = false;
  return value;
}

// The string at key of object, which must be there; nothing after a problem.
std::optional<std::string> stringAt(const json& object, const char* key, const std::string& where,
                                    Checker& check) {
  const json* value = check.member(object, key, where);
  if (value == nullptr) return std::nullopt;
  if (!value->is_string()) {
    check.problem(where, quotedKey(key) + " must be a string, not " + shown(*value));
    return std::nullopt;
  }
  return value->get<std::string>();
}

// The string at key, or empty when it is missing or not a string (a detail a picture can do
// without).
std::string optionalString(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The array at key of object, which must be there; null after a problem.
const json* arrayAt(const json& object, const char* key, const std::string& where,
                    Checker& check) {
  const json* value = check.member(object, key, where);
  if (value == nullptr) return nullptr;
  if (!value->is_array()) {
    check.problem(where, quotedKey(key) + " must be an array, not " + shown(*value));
    return nullptr;
  }
  return value;
}

// An object of an array, named by its place: a problem when it is not an object.
bool isObjectEntry(const json& entry, const std::string& where, Checker& check) {
  if (entry.is_object()) return true;
  check.problem(where, "must be an object, not " + shown(entry));
  return false;
}

std::string placeOf(const std::string& outer, const char* array, std::size_t index) {
  return (outer.empty() ? "" : outer + ".") + array + "[" + std::to_string(index) + "]";
}

// A context object as a run's is read: every key that is not null, strings as they are and
// anything else as one line of JSON. Empty when it is missing or not an object.
std::map<std::string, std::string> contextOf(const json& object, const char* key) {
  std::map<std::string, std::string> context;
  const auto found = object.find(key);
  if (found == object.end() || !found->is_object()) return context;
  for (const auto& [name, value] : found->items()) {
    if (value.is_null()) continue;
    context[name] = value.is_string() ? value.get<std::string>() : jsonText(value);
  }
  return context;
}

// "0.19.0 1a2b3c4d5e6f": the version and commit of the side's context at key; empty where
// they are not strings.
std::string buildOf(const json& context, const char* key) {
  const auto side = context.find(key);
  if (side == context.end() || !side->is_object()) return {};
  const std::string version = optionalString(*side, "lubench_version");
  const std::string commit = optionalString(*side, "git_commit").substr(0, 12);
  return version + (version.empty() || commit.empty() ? "" : " ") + commit;
}

bool readInterrupted(const json& root, Checker& check) {
  const auto found = root.find("interrupted");
  if (found == root.end() || found->is_null()) return false;
  if (!found->is_boolean()) {
    check.problem("", "\"interrupted\" must be true or false, not " + shown(*found));
    return false;
  }
  return found->get<bool>();
}

// A paired ratio: a median above 0, its interval when known, and its verdict.
std::optional<SavedRatio> readRatio(const json& ratio, const std::string& where, Checker& check) {
  if (!isObjectEntry(ratio, where, check)) return std::nullopt;
  constexpr double kLargest = std::numeric_limits<double>::max();
  bool ok = true;
  SavedRatio read;
  const std::optional<double> median = numberAt(ratio, "median", 0, kLargest, where, check);
  read.low = numberOrNullAt(ratio, "low", 0, kLargest, where, check, ok);
  read.high = numberOrNullAt(ratio, "high", 0, kLargest, where, check, ok);
  if (!median || !ok) return std::nullopt;
  if (read.low.has_value() != read.high.has_value() ||
      (read.low && !(*read.low <= *median && *median <= *read.high))) {
    check.problem(where, "the interval must hold the median, low <= median <= high");
    return std::nullopt;
  }
  read.median = *median;
  read.verdict = optionalString(ratio, "verdict");
  return read;
}

std::optional<SavedPair> readPair(const json& pair, const std::string& where, Checker& check) {
  if (!isObjectEntry(pair, where, check)) return std::nullopt;
  SavedPair read;
  const std::optional<std::string> first = stringAt(pair, "first", where, check);
  if (first && *first != "old" && *first != "new") {
    check.problem(where, "\"first\" must be \"old\" or \"new\", not " + shown(pair["first"]));
  }
  read.oldFirst = first && *first == "old";
  bool ok = first.has_value();
  for (const char* side : {"old", "new"}) {
    const json* run = check.member(pair, side, where);
    const std::string place = where + "." + side;
    if (run == nullptr || !isObjectEntry(*run, place, check)) {
      ok = false;
      continue;
    }
    const std::optional<double> timed =
        numberAt(*run, "timed_ns", 0, kMaxTimedNanoseconds, place, check);
    if (!timed || *timed <= 0) {
      if (timed) check.problem(place, "\"timed_ns\" must be above 0");
      ok = false;
      continue;
    }
    (side[0] == 'o' ? read.oldNanoseconds : read.newNanoseconds) = *timed;
  }
  if (!ok) return std::nullopt;
  return read;
}

// n, block (and seed, when asked) of a combination: nothing after a problem.
bool readCombinationKey(const json& object, const std::string& where, Checker& check, int& n,
                        int& block, unsigned* seed) {
  const std::optional<long long> readN = check.wholeNumber(object, "n", 1, kMaxWhole, where);
  const std::optional<long long> readBlock =
      check.wholeNumber(object, "block", 1, kMaxWhole, where);
  std::optional<long long> readSeed = 0;
  if (seed != nullptr) readSeed = check.wholeNumber(object, "seed", 0, kMaxSeed, where);
  if (!readN || !readBlock || !readSeed) return false;
  n = static_cast<int>(*readN);
  block = static_cast<int>(*readBlock);
  if (seed != nullptr) *seed = static_cast<unsigned>(*readSeed);
  return true;
}

std::optional<SavedSessionCombination> readSessionCombination(const json& combination,
                                                              const std::string& where,
                                                              Checker& check) {
  if (!isObjectEntry(combination, where, check)) return std::nullopt;
  SavedSessionCombination read;
  bool ok = readCombinationKey(combination, where, check, read.n, read.block, &read.seed);
  if (const json* pairs = arrayAt(combination, "pairs", where, check)) {
    for (std::size_t p = 0; p < pairs->size(); ++p) {
      std::optional<SavedPair> pair = readPair((*pairs)[p], placeOf(where, "pairs", p), check);
      if (pair) {
        read.pairs.push_back(*pair);
      } else {
        ok = false;
      }
    }
  } else {
    ok = false;
  }
  // No ratio (null) where no pair finished.
  const auto ratio = combination.find("ratio");
  if (ratio != combination.end() && !ratio->is_null()) {
    read.ratio = readRatio(*ratio, where + ".ratio", check);
    if (!read.ratio) ok = false;
  }
  const auto steps = combination.find("steps");
  if (steps != combination.end() && !steps->is_null()) {
    if (!steps->is_object()) {
      check.problem(where, "\"steps\" must be an object, not " + shown(*steps));
      ok = false;
    } else {
      for (const auto& [step, value] : steps->items()) {
        if (!isName(json(step))) {
          check.problem(where + ".steps", "a step's key must be a name, not " + shown(json(step)));
          ok = false;
          continue;
        }
        std::optional<SavedRatio> stepRatio = readRatio(value, where + ".steps." + step, check);
        if (stepRatio) {
          read.steps[step] = *stepRatio;
        } else {
          ok = false;
        }
      }
    }
  }
  if (!ok) return std::nullopt;
  return read;
}

std::optional<SavedChangeRow> readChangeRow(const json& row, const std::string& where,
                                            Checker& check) {
  if (!isObjectEntry(row, where, check)) return std::nullopt;
  SavedChangeRow read;
  bool ok = readCombinationKey(row, where, check, read.n, read.block, nullptr);
  const auto option = row.find("kernel_option");
  if (option != row.end() && !option->is_null()) {
    if (isName(*option)) {
      read.kernelOption = option->get<std::string>();
    } else {
      check.problem(where, "\"kernel_option\" must be a name, not " + shown(*option));
      ok = false;
    }
  }
  const std::optional<double> oldMedian =
      numberAt(row, "old_median_ns", 0, kMaxTimedNanoseconds, where, check);
  const std::optional<double> newMedian =
      numberAt(row, "new_median_ns", 0, kMaxTimedNanoseconds, where, check);
  // A change is a ratio less 1: above -1, and no larger than the ratio of the largest time to
  // the smallest could make it.
  const std::optional<double> change = numberAt(row, "change", -1, 1e30, where, check);
  const std::optional<double> shift = numberAt(row, "shift", -1e30, 1e30, where, check);
  const std::optional<std::string> verdict = stringAt(row, "verdict", where, check);
  for (const auto& [key, seed] : {std::pair{"old_seed", &read.oldSeed}, {"new_seed", &read.newSeed}}) {
    const auto found = row.find(key);
    if (found == row.end() || found->is_null()) continue;
    const std::optional<long long> value = check.wholeNumber(row, key, 0, kMaxSeed, where);
    if (value) {
      *seed = static_cast<unsigned>(*value);
    } else {
      ok = false;
    }
  }
  constexpr double kLargest = std::numeric_limits<double>::max();
  read.ratioLow = numberOrNullAt(row, "ratio_low", 0, kLargest, where, check, ok);
  read.ratioHigh = numberOrNullAt(row, "ratio_high", 0, kLargest, where, check, ok);
  if (ok && (read.ratioLow.has_value() != read.ratioHigh.has_value() ||
             (read.ratioLow && *read.ratioLow > *read.ratioHigh))) {
    check.problem(where, "\"ratio_low\" and \"ratio_high\" must both be given, low <= high");
    ok = false;
  }
  if (!ok || !oldMedian || !newMedian || !change || !shift || !verdict) return std::nullopt;
  if (*oldMedian <= 0 || *newMedian <= 0) {
    check.problem(where, "the medians must be above 0");
    return std::nullopt;
  }
  read.oldMedianNanoseconds = *oldMedian;
  read.newMedianNanoseconds = *newMedian;
  read.change = *change;
  read.shift = *shift;
  read.verdict = *verdict;
  const auto noise = row.find("within_noise");
  read.withinNoise = noise != row.end() && noise->is_boolean() && noise->get<bool>();
  return read;
}

std::optional<SavedComparison> readComparison(const json& comparison, const std::string& where,
                                              Checker& check) {
  if (!isObjectEntry(comparison, where, check)) return std::nullopt;
  SavedComparison read;
  const std::optional<std::string> oldPath = stringAt(comparison, "old", where, check);
  const std::optional<std::string> newPath = stringAt(comparison, "new", where, check);
  bool ok = oldPath && newPath;
  if (const json* rows = arrayAt(comparison, "rows", where, check)) {
    for (std::size_t r = 0; r < rows->size(); ++r) {
      std::optional<SavedChangeRow> row = readChangeRow((*rows)[r], placeOf(where, "rows", r), check);
      if (row) {
        read.rows.push_back(std::move(*row));
      } else {
        ok = false;
      }
    }
  } else {
    ok = false;
  }
  read.geometricMeanRatio = numberOrNullAt(comparison, "geometric_mean_ratio", 0,
                                           std::numeric_limits<double>::max(), where, check, ok);
  read.noiseFloorPercent =
      numberOrNullAt(comparison, "noise_floor_percent", 0, 1e6, where, check, ok);
  if (!ok) return std::nullopt;
  read.oldPath = *oldPath;
  read.newPath = *newPath;
  read.oldContext = contextOf(comparison, "old_context");
  read.newContext = contextOf(comparison, "new_context");
  return read;
}

std::optional<SavedFleetEntry> readFleetEntry(const json& entry, const std::string& where,
                                              Checker& check) {
  if (!isObjectEntry(entry, where, check)) return std::nullopt;
  SavedFleetEntry read;
  const std::optional<std::string> node = stringAt(entry, "node", where, check);
  const std::optional<double> median =
      numberAt(entry, "median_ns", 0, kMaxTimedNanoseconds, where, check);
  const std::optional<double> over = numberAt(entry, "over_median", -1, 1e30, where, check);
  const json* slow = check.member(entry, "slow", where);
  if (slow != nullptr && !slow->is_boolean()) {
    check.problem(where, "\"slow\" must be true or false, not " + shown(*slow));
    slow = nullptr;
  }
  bool ok = node && median && over && slow != nullptr;
  const auto cpu = entry.find("cpu");
  if (cpu != entry.end() && !cpu->is_null()) {
    const std::optional<long long> number = check.wholeNumber(entry, "cpu", 0, kMaxWhole, where);
    if (number) {
      read.cpu = static_cast<int>(*number);
    } else {
      ok = false;
    }
  }
  if (!ok) return std::nullopt;
  read.node = *node;
  read.medianNanoseconds = *median;
  read.overMedian = *over;
  read.slow = slow->get<bool>();
  read.fingerprint = optionalString(entry, "fingerprint");
  read.vectorPath = optionalString(entry, "vector_path");
  return read;
}

std::optional<SavedFleetGroup> readFleetGroup(const json& group, const std::string& where,
                                              Checker& check) {
  if (!isObjectEntry(group, where, check)) return std::nullopt;
  SavedFleetGroup read;
  const std::optional<std::string> build = stringAt(group, "build", where, check);
  const std::optional<double> median =
      numberAt(group, "median_ns", 0, kMaxTimedNanoseconds, where, check);
  bool ok = build && median;
  const auto copies = group.find("copies");
  if (copies != group.end() && copies->is_boolean()) read.copies = copies->get<bool>();
  if (const json* entries = arrayAt(group, "entries", where, check)) {
    for (std::size_t e = 0; e < entries->size(); ++e) {
      std::optional<SavedFleetEntry> entry =
          readFleetEntry((*entries)[e], placeOf(where, "entries", e), check);
      if (entry) {
        read.entries.push_back(std::move(*entry));
      } else {
        ok = false;
      }
    }
  } else {
    ok = false;
  }
  if (!ok) return std::nullopt;
  read.build = *build;
  read.medianNanoseconds = *median;
  return read;
}

std::optional<SavedFleetCombination> readFleetCombination(const json& combination,
                                                          const std::string& where,
                                                          Checker& check) {
  if (!isObjectEntry(combination, where, check)) return std::nullopt;
  SavedFleetCombination read;
  bool ok = readCombinationKey(combination, where, check, read.n, read.block, &read.seed);
  const auto option = combination.find("kernel_option");
  if (option != combination.end() && isName(*option)) read.kernelOption = option->get<std::string>();
  read.majorityFingerprint = optionalString(combination, "majority_fingerprint");
  if (const json* groups = arrayAt(combination, "groups", where, check)) {
    for (std::size_t g = 0; g < groups->size(); ++g) {
      std::optional<SavedFleetGroup> group =
          readFleetGroup((*groups)[g], placeOf(where, "groups", g), check);
      if (group) {
        read.groups.push_back(std::move(*group));
      } else {
        ok = false;
      }
    }
  } else {
    ok = false;
  }
  if (!ok) return std::nullopt;
  return read;
}

}  // namespace

std::optional<SavedSession> readSession(const json& root, Checker& check) {
  SavedSession session;
  const json* context = check.member(root, "context", "");
  if (context != nullptr && !context->is_object()) {
    check.problem("", "\"context\" must be an object, not " + shown(*context));
  }
  session.context = contextOf(root, "context");
  if (context != nullptr && context->is_object()) {
    session.oldBuild = buildOf(*context, "old");
    session.newBuild = buildOf(*context, "new");
  }
  session.interrupted = readInterrupted(root, check);
  if (const json* combinations = arrayAt(root, "combinations", "", check)) {
    for (std::size_t c = 0; c < combinations->size(); ++c) {
      std::optional<SavedSessionCombination> combination =
          readSessionCombination((*combinations)[c], placeOf("", "combinations", c), check);
      if (combination) session.combinations.push_back(std::move(*combination));
    }
  }
  if (!check.clean()) return std::nullopt;
  return session;
}

std::optional<SavedComparisons> readComparisons(const json& root, Checker& check) {
  SavedComparisons comparisons;
  comparisons.date = optionalString(root, "date");
  if (const json* all = arrayAt(root, "comparisons", "", check)) {
    for (std::size_t c = 0; c < all->size(); ++c) {
      std::optional<SavedComparison> comparison =
          readComparison((*all)[c], placeOf("", "comparisons", c), check);
      if (comparison) comparisons.comparisons.push_back(std::move(*comparison));
    }
  }
  if (!check.clean()) return std::nullopt;
  return comparisons;
}

std::optional<SavedFleet> readFleetReport(const json& root, Checker& check) {
  SavedFleet fleet;
  fleet.date = optionalString(root, "date");
  const std::optional<long long> documents =
      check.wholeNumber(root, "documents", 0, kMaxWhole, "");
  const std::optional<double> slower = numberAt(root, "slower_than_percent", 0, 1e6, "", check);
  if (documents) fleet.documents = static_cast<int>(*documents);
  if (slower) fleet.slowerThanPercent = *slower;
  if (const json* combinations = arrayAt(root, "combinations", "", check)) {
    for (std::size_t c = 0; c < combinations->size(); ++c) {
      std::optional<SavedFleetCombination> combination =
          readFleetCombination((*combinations)[c], placeOf("", "combinations", c), check);
      if (combination) fleet.combinations.push_back(std::move(*combination));
    }
  }
  if (!check.clean()) return std::nullopt;
  return fleet;
}

}  // namespace document_reading
