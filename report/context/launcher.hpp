#pragma once

#include <functional>
#include <optional>
#include <string>

// The launcher that started this process as one of many (one rank per node or per core), read
// from the variables each sets; nothing when none did. The copies never talk to each other: the
// rank only names the process and its files.

struct LauncherInfo {
  std::string launcher;  // "slurm", "openmpi" or "pmix"; empty when none
  std::optional<long long> rank;
  std::optional<std::string> job;        // SLURM_JOB_ID, else PMIx's namespace
  std::optional<std::string> nodeName;   // SLURMD_NODENAME, where Slurm sets it
};

// environment looks a variable up (getenv by default; tests hand their own). The rank is the
// first of SLURM_PROCID, OMPI_COMM_WORLD_RANK and PMIX_RANK that holds a whole number.
LauncherInfo readLauncher(
    const std::function<const char*(const char*)>& environment = [](const char* name) {
      return static_cast<const char*>(std::getenv(name));
    });

// name with "{host}" and "{rank}" replaced and "{{", "}}" made single braces. Characters of the
// host name that cannot stand in a file name (a '/', a control character, invalid UTF-8; a name
// that is "." or "..") become '_'. An error instead for an unknown or unclosed placeholder, and
// for {rank} without a launcher's rank.
struct ExpandedName {
  std::string name;
  std::string error;  // empty when the name is good
};
ExpandedName expandPlaceholders(const std::string& name, const std::string& host,
                                const std::optional<long long>& rank);

// expandPlaceholders with this machine's host name and the rank of the launcher that started
// this process: what every --out's name means.
ExpandedName expandPlaceholdersHere(const std::string& name);
