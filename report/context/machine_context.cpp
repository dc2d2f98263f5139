#include "machine_context.hpp"

#include <dirent.h>
#include <limits.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {

std::optional<std::string> firstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  if (!std::getline(file, line) || line.empty()) return std::nullopt;
  return line;
}

template <class Number>
std::optional<Number> number(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::istringstream in(*text);
  Number value{};
  if (!(in >> value)) return std::nullopt;
  return value;
}

// "48K" or "1024K" or "32M" as bytes.
std::optional<long long> cacheBytes(const std::optional<std::string>& text) {
  const std::optional<long long> count = number<long long>(text);
  if (!count) return std::nullopt;
  const char unit = text->back();
  if (unit == 'K') return *count << 10;
  if (unit == 'M') return *count << 20;
  if (unit == 'G') return *count << 30;
  return *count;
}

// Members of a CPU list such as "0-3,8".
int cpuListSize(const std::string& list) {
  int size = 0;
  std::istringstream in(list);
  std::string range;
  while (std::getline(in, range, ',')) {
    int first = 0, last = 0;
    const int got = std::sscanf(range.c_str(), "%d-%d", &first, &last);
    if (got == 2) size += last - first + 1;
    if (got == 1) size += 1;
  }
  return size;
}

// The value after "key<tabs>: " on a /proc/cpuinfo line, when the line is that key's.
std::optional<std::string> cpuinfoValue(const std::string& line, const std::string& key) {
  if (line.compare(0, key.size(), key) != 0) return std::nullopt;
  const std::size_t colon = line.find(':', key.size());
  if (colon == std::string::npos || line.find_first_not_of(" \t", key.size()) != colon) {
    return std::nullopt;
  }
  const std::size_t start = line.find_first_not_of(' ', colon + 1);
  return start == std::string::npos ? std::string() : line.substr(start);
}

void readCpuinfo(const std::string& root, MachineContext& m) {
  std::ifstream cpuinfo(root + "/proc/cpuinfo");
  std::string line;
  std::optional<double> listedMhz;
  while (std::getline(cpuinfo, line)) {
    if (cpuinfoValue(line, "processor")) ++m.logicalCpus;
    // The first processor's description stands for all.
    if (m.logicalCpus != 1) continue;
    if (auto v = cpuinfoValue(line, "model name")) m.cpuModel = *v;
    if (auto v = cpuinfoValue(line, "vendor_id")) m.cpuVendor = *v;
    if (auto v = cpuinfoValue(line, "cpu family")) m.cpuFamily = number<int>(v);
    if (auto v = cpuinfoValue(line, "model")) m.cpuModelNumber = number<int>(v);
    if (auto v = cpuinfoValue(line, "cpu MHz")) listedMhz = number<double>(v);
  }
  if (!m.mhz) m.mhz = listedMhz;
}

void readCpufreq(const std::string& root, MachineContext& m) {
  const std::string cpufreq = root + "/sys/devices/system/cpu/cpu0/cpufreq/";
  if (auto khz = number<double>(firstLine(cpufreq + "cpuinfo_max_freq"))) m.mhz = *khz / 1000;
  m.governor = firstLine(cpufreq + "scaling_governor");
  const std::string cpu = root + "/sys/devices/system/cpu/";
  if (auto noTurbo = number<int>(firstLine(cpu + "intel_pstate/no_turbo"))) {
    m.turbo = *noTurbo == 0;
  } else if (auto boost = number<int>(firstLine(cpu + "cpufreq/boost"))) {
    m.turbo = *boost != 0;
  }
}

void readCaches(const std::string& root, MachineContext& m) {
  for (int index = 0;; ++index) {
    const std::string dir =
        root + "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
    const std::optional<int> level = number<int>(firstLine(dir + "level"));
    if (!level) break;
    CacheInfo cache;
    cache.level = *level;
    cache.type = firstLine(dir + "type").value_or("");
    cache.bytes = cacheBytes(firstLine(dir + "size")).value_or(0);
    cache.sharedBy = cpuListSize(firstLine(dir + "shared_cpu_list").value_or(""));
    m.caches.push_back(cache);
  }
}

void readLoad(const std::string& root, MachineContext& m) {
  const std::optional<std::string> load = firstLine(root + "/proc/loadavg");
  if (!load) return;
  std::array<double, 3> averages{};
  int runnable = 0, total = 0;
  const int got = std::sscanf(load->c_str(), "%lf %lf %lf %d/%d", &averages[0], &averages[1],
                              &averages[2], &runnable, &total);
  if (got >= 3) m.loadAverage = averages;
  if (got == 5) m.runnable = runnable;
}

}  // namespace

MachineContext readMachineContext(const std::string& root) {
  MachineContext m;
  m.hostName = firstLine(root + "/proc/sys/kernel/hostname");
  m.kernelRelease = firstLine(root + "/proc/sys/kernel/osrelease");
  readCpufreq(root, m);
  readCpuinfo(root, m);
  readCaches(root, m);
  readLoad(root, m);
  if (auto thp = firstLine(root + "/sys/kernel/mm/transparent_hugepage/enabled")) {
    const std::size_t open = thp->find('['), close = thp->find(']');
    if (open != std::string::npos && close > open)
      m.transparentHugePages = thp->substr(open + 1, close - open - 1);
  }
  return m;
}

std::optional<long long> stolenJiffies(const std::string& root) {
  const std::optional<std::string> cpu = firstLine(root + "/proc/stat");
  if (!cpu || cpu->compare(0, 4, "cpu ") != 0) return std::nullopt;
  std::istringstream in(cpu->substr(4));
  long long field[8] = {};
  for (long long& value : field) {
    if (!(in >> value)) return std::nullopt;
  }
  return field[7];
}

std::string isoDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  if (length < 5) return "";
  // strftime's +hhmm, with the colon ISO 8601's extended format wants.
  std::string date(text, length - 2);
  date.push_back(':');
  date.append(text + length - 2, 2);
  return date;
}

std::string executablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}


std::vector<CpuPlace> readCpuPlaces(const std::vector<int>& cpus, const std::string& root) {
  std::vector<CpuPlace> places;
  for (int cpu : cpus) {
    const std::string dir = root + "/sys/devices/system/cpu/cpu" + std::to_string(cpu);
    CpuPlace place;
    place.cpu = cpu;
    place.core = number<int>(firstLine(dir + "/topology/core_id"));
    place.package = number<int>(firstLine(dir + "/topology/physical_package_id"));
    // The node is the nodeN entry in the CPU's directory.
    if (DIR* entries = opendir(dir.c_str())) {
      while (const dirent* entry = readdir(entries)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(0, 4, "node") == 0 &&
            name.find_first_not_of("0123456789", 4) == std::string::npos) {
          place.node = number<int>(name.substr(4));
        }
      }
      closedir(entries);
    }
    places.push_back(place);
  }
  return places;
}

std::vector<CpuPlace> chooseCopyCpus(const std::vector<CpuPlace>& places, const std::string& which,
                                     int count) {
  std::vector<CpuPlace> cores, siblings;
  std::vector<std::pair<int, int>> seen;  // (package, core) already given a CPU
  for (const CpuPlace& place : places) {
    if (!place.core) {
      cores.push_back(place);
      continue;
    }
    const std::pair<int, int> key{place.package.value_or(-1), *place.core};
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      siblings.push_back(place);
    } else {
      seen.push_back(key);
      cores.push_back(place);
    }
  }
  if (which == "cores") return cores;
  std::vector<CpuPlace> all = cores;
  all.insert(all.end(), siblings.begin(), siblings.end());
  if (which != "all" && count >= 0 && static_cast<std::size_t>(count) < all.size()) {
    all.resize(static_cast<std::size_t>(count));
  }
  return all;
}
