#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "fleet.hpp"

// lubench-report fleet over many generated node documents: its time, and its memory, which
// grows with the nodes and copies, not with the runs each document holds.

namespace {

using json = nlohmann::json;

// A node's document as lubench-report --copies all writes it on a 2-CPU node: runs timed runs
// with their steps, two copies of three runs each.
json nodeDocument(int node, int runs, std::mt19937_64& random) {
  std::normal_distribution<double> noise(1.0, 0.01);
  const double speed = node % 997 == 0 ? 1.25 : 1.0;  // a few slow nodes
  json runList = json::array();
  for (int i = 0; i < runs; ++i) {
    const double t = 1.4e9 * speed * noise(random);
    runList.push_back(json{{"start_ns", 1000 * i},
                           {"timed_ns", t},
                           {"gflops", 32.7},
                           {"steps_ns",
                            {{"pivots", 0.02 * t},
                             {"diagonal_block", 0.001 * t},
                             {"multipliers", 0.015 * t},
                             {"block_row_of_u", 0.01 * t},
                             {"next_columns", 0.008 * t},
                             {"finished_rows", 0.016 * t},
                             {"trailing_sweep", 0.92 * t},
                             {"solves", 0.009 * t}}},
                           {"residual", 2.1},
                           {"residual_passed", true},
                           {"singular_columns", 0},
                           {"fingerprint", "dd81ca9bfcc2bdf5"}});
  }
  json perCopy = json::array();
  for (int cpu = 0; cpu < 2; ++cpu) {
    perCopy.push_back(json{{"cpu", cpu},
                           {"core", cpu},
                           {"median_timed_ns", 1.45e9 * speed * noise(random)},
                           {"fingerprint", node == 123 && cpu == 1 ? "dd81ca9bfcc2bdf4"
                                                                    : "dd81ca9bfcc2bdf5"},
                           {"finished", true}});
  }
  return json{{"document_kind", "run"},
              {"context",
               {{"json_schema_version", 2},
                {"host_name", "node" + std::to_string(node)},
                {"cpu_model", "AMD EPYC"},
                {"lubench_version", "0.19.0"},
                {"git_commit", "c74853e"},
                {"compiler", "GCC"},
                {"compiler_version", "12.2.0"},
                {"compile_flags", "-O3"},
                {"vector_path", "avx512"}}},
              {"benchmarks",
               json::array({json{{"n", 4096},
                                 {"block", 32},
                                 {"seed", 42},
                                 {"fingerprint", "dd81ca9bfcc2bdf5"},
                                 {"runs", runList},
                                 {"copies", {{"per_copy", perCopy}}}}})},
              {"interrupted", false}};
}

// A directory of count documents of runs runs each, made once per process and removed at exit.
class Fleet {
 public:
  Fleet(int count, int runs)
      : dir_(std::filesystem::temp_directory_path() /
             ("lubench-fleet-" + std::to_string(getpid()) + "-" + std::to_string(count) + "-" +
              std::to_string(runs))) {
    std::filesystem::create_directories(dir_);
    std::mt19937_64 random(42);
    for (int node = 0; node < count; ++node) {
      std::ofstream(dir_ / ("node" + std::to_string(node) + ".json"))
          << nodeDocument(node, runs, random).dump();
    }
  }
  ~Fleet() { std::filesystem::remove_all(dir_); }
  std::string path() const { return dir_.string(); }

 private:
  std::filesystem::path dir_;
};

double maxResidentMebibytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;
}

// range(0) documents of range(1) runs each.
void BM_FleetRead(benchmark::State& state) {
  const Fleet fleet(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::size_t retained = 0;
  for (auto _ : state) {
    const FleetReport report = readFleet({fleet.path()}, FleetOptions{});
    retained = 0;
    for (const FleetCombination& c : report.combinations) {
      for (const FleetGroup& g : c.groups) {
        for (const FleetEntry& e : g.entries) {
          retained += sizeof e + e.node.capacity() + e.fingerprint.capacity() + e.file.capacity();
        }
      }
    }
    if (report.documents != state.range(0) || report.combinations[0].dissents.size() != 1) {
      state.SkipWithError("the fleet was not read whole");
    }
  }
  state.counters["documents_per_s"] =
      benchmark::Counter(static_cast<double>(state.range(0) * state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["retained_MiB"] = static_cast<double>(retained) / (1 << 20);
  state.counters["max_rss_MiB"] = maxResidentMebibytes();
}
// The memory comparison first (few runs, then many, same nodes), then the fleet of 10,000.
BENCHMARK(BM_FleetRead)
    ->Args({1000, 5})
    ->Args({1000, 200})
    ->Args({10000, 5})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
