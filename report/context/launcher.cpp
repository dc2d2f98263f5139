#include "launcher.hpp"

#include <unistd.h>

#include <cstdlib>

#include "text_format.hpp"

namespace {

std::optional<long long> wholeNumber(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  long long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || value > (1LL << 40)) return std::nullopt;
    value = value * 10 + (*p - '0');
  }
  return value;
}

// The host name as it may stand in a file name.
std::string fileNameSafe(const std::string& host) {
  if (host.empty() || host == "." || host == "..") return "_";
  // printable() marks each byte that is not valid UTF-8 with U+FFFD; control characters it
  // escapes. Both, and '/', become '_' here, byte by byte.
  std::string out;
  std::size_t i = 0;
  while (i < host.size()) {
    const unsigned char c = static_cast<unsigned char>(host[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    const std::string piece = length == 0 ? host.substr(i, 1) : host.substr(i, length);
    const bool valid = length > 0 && piece.size() == length && printable(piece) == piece;
    if (!valid || c == '/' || c < 0x20 || c == 0x7f) {
      out += '_';
      i += 1;
    } else {
      out += piece;
      i += length;
    }
  }
  return out;
}

}  // namespace

LauncherInfo readLauncher(const std::function<const char*(const char*)>& environment) {
  LauncherInfo info;
  const std::pair<const char*, const char*> ranks[] = {
      {"SLURM_PROCID", "slurm"}, {"OMPI_COMM_WORLD_RANK", "openmpi"}, {"PMIX_RANK", "pmix"}};
  for (const auto& [variable, launcher] : ranks) {
    if (const std::optional<long long> rank = wholeNumber(environment(variable))) {
      info.launcher = launcher;
      info.rank = rank;
      break;
    }
  }
  if (const char* job = environment("SLURM_JOB_ID"); job != nullptr && *job != '\0') {
    info.job = job;
  } else if (const char* space = environment("PMIX_NAMESPACE"); space != nullptr && *space != '\0') {
    info.job = space;
  }
  if (const char* node = environment("SLURMD_NODENAME"); node != nullptr && *node != '\0') {
    info.nodeName = node;
  }
  return info;
}

ExpandedName expandPlaceholders(const std::string& name, const std::string& host,
                                const std::optional<long long>& rank) {
  ExpandedName result;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if ((c == '{' || c == '}') && i + 1 < name.size() && name[i + 1] == c) {
      result.name += c;
      ++i;
      continue;
    }
    if (c == '}') {
      result.error = "a single '}' (write '}}' for a brace)";
      return result;
    }
    if (c != '{') {
      result.name += c;
      continue;
    }
    const std::size_t close = name.find('}', i);
    const std::string key = close == std::string::npos ? "" : name.substr(i + 1, close - i - 1);
    if (key == "host") {
      result.name += fileNameSafe(host);
    } else if (key == "rank") {
      if (!rank) {
        result.error =
            "{rank}: no launcher's rank in the environment (SLURM_PROCID, "
            "OMPI_COMM_WORLD_RANK or PMIX_RANK)";
        return result;
      }
      result.name += std::to_string(*rank);
    } else {
      result.error = close == std::string::npos
                         ? "an unclosed '{' (write '{{' for a brace)"
                         : "unknown placeholder {" + printable(key) + "} (known: {host}, {rank})";
      return result;
    }
    i = close;
  }
  return result;
}

ExpandedName expandPlaceholdersHere(const std::string& name) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return expandPlaceholders(name, host, readLauncher().rank);
}
