#include "launcher.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>

// The launcher's rank and job from the environment, and --out's placeholders.

namespace {

LauncherInfo launcherOf(const std::map<std::string, std::string>& variables) {
  return readLauncher([&](const char* name) -> const char* {
    const auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second.c_str();
  });
}

TEST(Launcher, RankAndJobFromEachLaunchersVariables) {
  EXPECT_TRUE(launcherOf({}).launcher.empty());
  EXPECT_FALSE(launcherOf({}).rank);
  const LauncherInfo slurm = launcherOf(
      {{"SLURM_PROCID", "12"}, {"SLURM_JOB_ID", "4242"}, {"SLURMD_NODENAME", "n07"},
       {"PMIX_RANK", "3"}});
  EXPECT_EQ(slurm.launcher, "slurm") << "Slurm's own rank first";
  EXPECT_EQ(slurm.rank, 12);
  EXPECT_EQ(slurm.job, "4242");
  EXPECT_EQ(slurm.nodeName, "n07");
  const LauncherInfo openmpi = launcherOf(
      {{"OMPI_COMM_WORLD_RANK", "1"}, {"PMIX_RANK", "1"}, {"PMIX_NAMESPACE", "prterun-vm-1@1"}});
  EXPECT_EQ(openmpi.launcher, "openmpi");
  EXPECT_EQ(openmpi.job, "prterun-vm-1@1");
  // A rank that is not a whole number is no rank: the next launcher's counts.
  const LauncherInfo garbled = launcherOf({{"SLURM_PROCID", "1x"}, {"PMIX_RANK", "5"}});
  EXPECT_EQ(garbled.launcher, "pmix");
  EXPECT_EQ(garbled.rank, 5);
  EXPECT_FALSE(launcherOf({{"SLURM_PROCID", "-1"}}).rank);
}

TEST(Launcher, PlaceholdersMakeOneSafeFileNamePerNodeAndRank) {
  struct Case {
    std::string name, host;
    std::optional<long long> rank;
    std::string expected, error;
  };
  const Case cases[] = {
      {"lu-{host}-{rank}.json", "node7", 3, "lu-node7-3.json", ""},
      {"{{x}}-{host}", "a/b", std::nullopt, "{x}-a_b", ""},
      {"{host}.json", "..", std::nullopt, "_.json", ""},
      {"{host}", "n\xff\xfe" "7\n", std::nullopt, "n__7_", ""},
      {"{host}", "n\xc3\xa9", std::nullopt, "n\xc3\xa9", ""},
      {"{rank}.json", "h", std::nullopt, "", "{rank}: no launcher's rank"},
      {"{user}.json", "h", 1, "", "unknown placeholder {user}"},
      {"lu-{host", "h", 1, "", "an unclosed '{'"},
      {"lu}", "h", 1, "", "a single '}'"},
  };
  for (const Case& c : cases) {
    const ExpandedName expanded = expandPlaceholders(c.name, c.host, c.rank);
    if (c.error.empty()) {
      EXPECT_EQ(expanded.name, c.expected) << c.name;
      EXPECT_TRUE(expanded.error.empty()) << expanded.error;
    } else {
      EXPECT_NE(expanded.error.find(c.error), std::string::npos) << c.name << ": " << expanded.error;
    }
  }
}

}  // namespace
