#include "expectations_reader.hpp"

#include <cmath>
#include <map>
#include <tuple>

#include "text_format.hpp"

// A reference bands' document, as docs/json-format.md describes it: an array of entries, each
// naming a CPU model, a vector path, n and block, and the expected GFLOP/s with the band around
// it. Every key an entry needs is checked for its type and range, and a second entry for the
// same machine and combination is refused: which of the two bands applies would be a guess.
// Unknown keys are ignored.

namespace document_reading {
namespace {

constexpr long long kMaxWhole = 2147483647;  // n and block

// The finite number above 0 at key of entry; nothing after a problem.
std::optional<double> rateAt(const json& entry, const char* key, const std::string& where,
                             Checker& check) {
  const json* value = check.member(entry, key, where);
  if (value == nullptr) return std::nullopt;
  if (!value->is_number() || !std::isfinite(value->get<double>()) || value->get<double>() <= 0) {
    check.problem(where, std::string("\"") + key +
                             "\" must be a finite number of GFLOP/s above 0, not " +
                             shown(*value));
    return std::nullopt;
  }
  return value->get<double>();
}

std::optional<ExpectationEntry> readEntry(const json& entry, const std::string& where,
                                          Checker& check) {
  if (!entry.is_object()) {
    check.problem(where, "must be an object, not " + shown(entry));
    return std::nullopt;
  }
  ExpectationEntry read;
  bool ok = true;
  if (const json* model = check.member(entry, "cpu_model", where)) {
    if (model->is_string() && !model->get_ref<const std::string&>().empty()) {
      read.cpuModel = model->get<std::string>();
    } else {
      check.problem(where, "\"cpu_model\" must be a string that is not empty, not " +
                               shown(*model));
      ok = false;
    }
  } else {
    ok = false;
  }
  if (const json* path = check.member(entry, "vector_path", where)) {
    if (isName(*path)) {
      read.vectorPath = path->get<std::string>();
    } else {
      check.problem(where, "\"vector_path\" must be a vector path's name, not " + shown(*path));
      ok = false;
    }
  } else {
    ok = false;
  }
  const std::optional<long long> n = check.wholeNumber(entry, "n", 1, kMaxWhole, where);
  const std::optional<long long> block = check.wholeNumber(entry, "block", 1, kMaxWhole, where);
  const std::optional<double> gflops = rateAt(entry, "gflops", where, check);
  const std::optional<double> lower = rateAt(entry, "lower", where, check);
  const std::optional<double> upper = rateAt(entry, "upper", where, check);
  if (!ok || !n || !block || !gflops || !lower || !upper) return std::nullopt;
  if (!(*lower <= *gflops && *gflops <= *upper)) {
    check.problem(where, "the band must hold the expected rate, lower <= gflops <= upper, not " +
                             formatText("%g <= %g <= %g", *lower, *gflops, *upper));
    return std::nullopt;
  }
  read.n = static_cast<int>(*n);
  read.block = static_cast<int>(*block);
  read.gflops = *gflops;
  read.lower = *lower;
  read.upper = *upper;
  return read;
}

}  // namespace

std::optional<SavedExpectations> readExpectations(const json& root, const std::string& path,
                                                  Checker& check) {
  const json* entries = check.member(root, "expectations", "");
  if (entries == nullptr) return std::nullopt;
  if (!entries->is_array()) {
    check.problem("", "\"expectations\" must be an array, not " + shown(*entries));
    return std::nullopt;
  }
  SavedExpectations read;
  read.path = path;
  // Each machine and combination's first place, to name both places of a duplicate.
  std::map<std::tuple<std::string, std::string, int, int>, std::size_t> firstPlace;
  bool ok = true;
  for (std::size_t e = 0; e < entries->size(); ++e) {
    const std::string where = "expectations[" + std::to_string(e) + "]";
    std::optional<ExpectationEntry> entry = readEntry((*entries)[e], where, check);
    if (!entry) {
      ok = false;
      continue;
    }
    const auto [seen, first] = firstPlace.emplace(
        std::tuple{entry->cpuModel, entry->vectorPath, entry->n, entry->block}, e);
    if (!first) {
      check.problem(where, "a second band for cpu_model " + shown(json(entry->cpuModel)) +
                               ", vector_path " + entry->vectorPath + ", n " +
                               std::to_string(entry->n) + ", block " +
                               std::to_string(entry->block) + " (the first is expectations[" +
                               std::to_string(seen->second) + "])");
      ok = false;
      continue;
    }
    read.entries.push_back(std::move(*entry));
  }
  if (!ok) return std::nullopt;
  if (read.entries.empty()) {
    check.warning("\"expectations\" is empty: no combination has a band to be checked against");
  }
  return read;
}

}  // namespace document_reading
