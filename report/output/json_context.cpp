#include "json_context.hpp"

#include "build_info.hpp"

namespace {

using json = nlohmann::ordered_json;

template <class T>
json orNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

}  // namespace

nlohmann::ordered_json contextJson(const SweepContext& context) {
  const MachineContext& m = context.machine;
  const BuildInfo& build = buildInfo();
  json caches = json::array();
  for (const CacheInfo& cache : m.caches) {
    caches.push_back(json{{"type", cache.type},
                          {"level", cache.level},
                          {"size", cache.bytes},
                          {"num_sharing", cache.sharedBy}});
  }
  json paths = json::array();
  for (const HeldPath& path : build.paths) {
    paths.push_back(json{{"name", path.name},
                         {"needs", path.needs},
                         {"doubles", path.doubles},
                         {"runs_here", path.runsHere},
                         {"kernels", path.kernels},
                         {"blocks_per_sweep", path.blocksPerSweep}});
  }
  json load = nullptr;
  if (m.loadAverage)
    load = json::array({(*m.loadAverage)[0], (*m.loadAverage)[1], (*m.loadAverage)[2]});
  json out{
      {"json_schema_version", kJsonSchemaVersion},
      {"date", context.date},
      {"host_name", orNull(m.hostName)},
      {"executable", context.executable},
      {"cpu_model", orNull(m.cpuModel)},
      {"cpu_vendor", orNull(m.cpuVendor)},
      {"cpu_family", orNull(m.cpuFamily)},
      {"cpu_model_number", orNull(m.cpuModelNumber)},
      {"num_cpus", m.logicalCpus > 0 ? json(m.logicalCpus) : json(nullptr)},
      {"pinned_cpu", orNull(context.pinnedCpu)},
      {"caches", m.caches.empty() ? json(nullptr) : caches},
      {"mhz_per_cpu", orNull(m.mhz)},
      {"cpu_scaling_governor", orNull(m.governor)},
      {"cpu_scaling_enabled", m.governor ? json(*m.governor != "performance") : json(nullptr)},
      {"turbo", orNull(m.turbo)},
      {"load_avg", load},
      {"runnable_processes", orNull(m.runnable)},
      {"kernel_release", orNull(m.kernelRelease)},
      {"transparent_huge_pages", orNull(m.transparentHugePages)},
      {"lubench_version", build.version},
      {"git_commit", orNull(build.commit)},
      {"git_dirty", orNull(build.dirty)},
      {"library_build_type", build.buildType},
      {"compiler", build.compiler},
      {"compiler_version", build.compilerVersion},
      {"compile_flags", build.flags},
      {"instruction_sets", build.instructionSets},
      {"vector_path", build.vectorPath},
      {"vector_doubles", build.vectorDoubles},
      {"kernel", build.kernel.empty() ? json(nullptr) : json(build.kernel)},
      {"fixed_kernel", orNull(build.fixedKernel)},
      {"vector_paths", paths},
      {"vector_path_option", context.options.base.vectorPath},
      {"expectations_file",
       context.expectations ? json(context.expectations->path) : json(nullptr)},
      {"peak_gflops", context.peak ? json(context.peak->gflops) : json(nullptr)},
      {"fused_peak_gflops", context.peak ? json(context.peak->fusedGflops) : json(nullptr)},
      {"kernel_gflops", context.peak ? json(context.peak->kernelGflops) : json(nullptr)},
      {"lapack_library",
       context.options.base.compareLapack ? json(context.lapackLibrary) : json(nullptr)},
      {"launcher",
       context.launcher.launcher.empty() ? json(nullptr) : json(context.launcher.launcher)},
      {"rank", orNull(context.launcher.rank)},
      {"job_id", orNull(context.launcher.job)},
      {"node_name",
       context.launcher.nodeName ? json(*context.launcher.nodeName) : orNull(m.hostName)},
      {"warnings", context.warnings},
  };
  for (const auto& [key, value] : context.options.userContext) out[key] = value;
  return out;
}

bool isReservedContextKey(const std::string& key) {
  return contextJson(SweepContext{}).contains(key);
}
