#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "process_runner.hpp"

// lubench-report ab end to end: the built program against itself and against stand-ins that
// change a fingerprint, hang, write garbage, fail a check, run slower or are plain benchmarks.

namespace {

using json = nlohmann::json;

const std::string kReport = LUBENCH_REPORT_EXECUTABLE;

ProcessResult ab(const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
  std::vector<std::string> all{"ab"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return runProcess(kReport, all, setup);
}

// An executable shell script in dir; lubench-report's --help is passed through unless asked not
// to, so that ab takes the script for lubench-report.
std::string script(const ScratchDirectory& dir, const std::string& name, const std::string& body,
                   bool passHelp = true) {
  const std::string help =
      passHelp ? "if [ \"$1\" = --help ]; then exec '" + kReport + "' --help; fi\n" : "";
  const std::string path = dir.write(name, "#!/bin/sh\n" + help + body);
  chmod(path.c_str(), 0755);
  return path;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

json parsed(const std::string& text) {
  json out = json::parse(text, nullptr, false);
  EXPECT_FALSE(out.is_discarded()) << text;
  return out;
}

// True when each process whose number is a line of the file has ended (gone, or a zombie nobody
// has reaped yet), within two seconds; false when the file names none.
bool allEnded(const std::string& pidFile) {
  std::vector<std::string> pids;
  std::istringstream lines(fileText(pidFile));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) pids.push_back(line);
  }
  if (pids.empty()) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (const std::string& pid : pids) {
    for (;;) {
      const std::string stat = fileText("/proc/" + pid + "/stat");
      const std::size_t close = stat.rfind(')');
      if (stat.empty() || (close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0)) {
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return true;
}

TEST(AbTool, TwoBuildsAlternateInPinnedChildrenWithTheSameArguments) {
  ScratchDirectory dir("ab");
  // Each side logs its arguments, then runs the real program.
  const std::string old = script(dir, "old", "echo \"$*\" >> '" + dir.path("old.log") +
                                                  "'\nexec '" + kReport + "' \"$@\"\n");
  const std::string young = script(dir, "new", "echo \"$*\" >> '" + dir.path("new.log") +
                                                   "'\nexec '" + kReport + "' \"$@\"\n");
  const ProcessResult r = ab({old, young, "--n", "48,64", "--block", "16", "--seed", "3",
                              "--pairs", "6", "--format", "json", "--out", dir.path("ab.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  const json document = parsed(r.out);
  EXPECT_EQ(document, parsed(fileText(dir.path("ab.json")))) << "--out holds the same document";
  EXPECT_EQ(document["document_kind"], "ab_session");
  const json& context = document["context"];
  EXPECT_EQ(context["order"], "ABBA");
  EXPECT_TRUE(context["fingerprints_compared"].get<bool>());
  // Both sides ran on the CPU the session names, and say their build.
  EXPECT_EQ(context["old"]["pinned_cpu"], context["pinned_cpu"]);
  EXPECT_EQ(context["new"]["pinned_cpu"], context["pinned_cpu"]);
  EXPECT_TRUE(context["new"]["vector_path"].is_string());
  ASSERT_EQ(document["combinations"].size(), 2u);
  for (const json& c : document["combinations"]) {
    ASSERT_EQ(c["pairs"].size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
      const json& pair = c["pairs"][i];
      EXPECT_EQ(pair["first"], i % 2 == 0 ? "old" : "new") << "ABBA";
      EXPECT_EQ(pair["old"]["fingerprint"], c["pairs"][0]["new"]["fingerprint"]);
      EXPECT_GT(pair["new"]["timed_ns"].get<double>(), 0);
      EXPECT_TRUE(pair["new"]["steps_ns"].contains("trailing_sweep"));
      // Each run says the path and kernel it chose: the automatic choice, the same on both.
      EXPECT_EQ(pair["old"]["vector_path"], context["new"]["vector_path"]);
      EXPECT_EQ(pair["new"]["kernel"], context["new"]["kernel"]);
    }
    EXPECT_TRUE(c["ratio"]["low"].is_number());
    EXPECT_TRUE(c["steps"].contains("pivots"));
  }
  EXPECT_EQ(document["interrupted"], false);
  // One child per side in each of the 6 pairs of both combinations, all with the same
  // arguments: one warm-up, one timed run, the session's seed.
  const std::string oldLog = fileText(dir.path("old.log")), newLog = fileText(dir.path("new.log"));
  EXPECT_EQ(oldLog, newLog);
  EXPECT_NE(oldLog.find("--n 64 --block 16 --seed 3 --no-peak --json --repeat 1 --warm-up\n"),
            std::string::npos)
      << oldLog;
  EXPECT_EQ(std::count(oldLog.begin(), oldLog.end(), '\n'), 2 * 6);

  // The text report says the same.
  const ProcessResult text = ab({kReport, kReport, "--n", "48", "--seed", "3", "--pairs", "6"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("n 48, block 32: 6 pairs"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Wilcoxon signed-rank p = "), std::string::npos);
  EXPECT_NE(text.out.find("on both sides in every run"), std::string::npos);
  EXPECT_NE(text.out.find(", kernel " + context["old"]["kernel"].get<std::string>() + ", commit "),
            std::string::npos)
      << text.out;
  EXPECT_EQ(text.out.find(" holds: "), std::string::npos) << "both builds hold the same";
}

TEST(AbTool, EachFaultHasItsStatusAndKeepsWhatFinished) {
  ScratchDirectory dir("ab");
  struct Case {
    const char* what;
    std::string body;  // the new side's script after the --help line
    std::vector<std::string> extra;
    int status;
    const char* said;  // on standard error
    std::size_t pairsKept;
  };
  const std::string run = "'" + kReport + "' \"$@\"";
  const std::vector<Case> cases = {
      {"other bytes",
       run + " | sed 's/\"fingerprint\": \"[0-9a-f]*\"/\"fingerprint\": \"fedcba9876543210\"/'\n",
       {},
       3,
       "seed 5: the old build gave ",
       0},
      {"a hang", "sleep 30\n", {"--timeout", "1"}, 1, "did not finish within 1 s (--timeout)", 0},
      {"garbage", "echo 'no document'; echo 'it went wrong' >&2\n", {}, 1, "it went wrong", 0},
      {"a crash", "kill -SEGV $$\n", {}, 1, "killed by SIGSEGV", 0},
      {"a failed check", run + "\nexit 2\n", {}, 2, "", 6},
      // Ten times slower, so that no pair of these runs of a few microseconds crosses 1.
      {"slower", run + " | /usr/bin/python3 -c '" +
                     "import json,sys; d=json.load(sys.stdin)\n"
                     "for b in d[\"benchmarks\"]:\n"
                     "  for r in b[\"runs\"]: r[\"timed_ns\"] *= 10\n"
                     "json.dump(d, sys.stdout)'\n",
       {"--fail-above", "50"}, 4, "", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string young = script(dir, "new", c.body);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> arguments{kReport, young,  "--n",      "48",   "--seed",
                                       "5",     "--pairs", "6",     "--format", "json"};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const ProcessResult r = ab(arguments);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    const json document = parsed(r.out);
    const std::size_t kept =
        document["combinations"].empty() ? 0 : document["combinations"][0]["pairs"].size();
    EXPECT_EQ(kept, c.pairsKept);
    if (c.status == 1) {
      EXPECT_NE(document["child_failure"].get<std::string>().find(young), std::string::npos)
          << "the command is named";
    }
  }
  // The slower side is found slower; the fingerprints differ in both places they are said.
  const ProcessResult fingerprints =
      ab({kReport, script(dir, "other", cases[0].body), "--n", "48", "--seed", "5", "--pairs", "6"});
  EXPECT_NE(fingerprints.out.find("FINGERPRINTS DIFFER"), std::string::npos);
  EXPECT_NE(fingerprints.err.find("the new build fedcba9876543210"), std::string::npos);
}

TEST(AbTool, PlainBenchmarksAndRefusedOptions) {
  ScratchDirectory dir("ab");
  // Each plain stand-in counts its runs (the --help probe is the first): the even ones are the
  // untimed warm-ups, whose result lines must not be taken.
  const auto counting = [&](const std::string& name, const std::string& timed) {
    const std::string runs = dir.path(name + ".runs");
    return script(dir, name,
                  "echo x >> '" + runs + "'\nk=$(wc -l < '" + runs + "')\n"
                  "if [ $((k % 2)) -eq 0 ]; then echo 'time_spent1 runtime: 99999 nanoseconds'\n"
                  "else echo 'time_spent1 runtime: " + timed + " nanoseconds'; fi\n",
                  false);
  };
  const std::string fast = counting("fast", "1000");
  const std::string slow = counting("slow", "3000");
  const ProcessResult plain = ab({fast, slow, "--pairs", "6", "--format", "json"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const json document = parsed(plain.out);
  EXPECT_EQ(document["context"]["old_program"], "plain");
  EXPECT_FALSE(document["context"]["fingerprints_compared"].get<bool>());
  EXPECT_DOUBLE_EQ(document["combinations"][0]["ratio"]["median"].get<double>(), 3);
  EXPECT_EQ(document["combinations"][0]["ratio"]["verdict"], "slower");
  EXPECT_TRUE(document["combinations"][0]["pairs"][0]["old"]["fingerprint"].is_null());
  for (const char* name : {"fast.runs", "slow.runs"}) {
    const std::string runs = fileText(dir.path(name));
    EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1 + 2 * 6)
        << name << ": the probe, then a warm-up before each of the six timed runs";
  }

  // A plain benchmark against lubench-report: the report side is given the plain side's own
  // order and block (a stand-in here runs order 48 and calls it 4096, with a fixed seed: about
  // one seed in seventy gives a matrix of order 48 whose growth fails the residual check), and
  // only the timed region is compared, and said so.
  const std::string smallReport = script(dir, "small",
                                         "prev=\nfor a do\n  shift\n"
                                         "  case $prev in --n) v=48 ;; --seed) v=5 ;; *) v=$a ;; esac\n"
                                         "  prev=$a\n  set -- \"$@\" \"$v\"\ndone\n"
                                         "'" + kReport + "' \"$@\" | "
                                         "sed 's/\"n\": 48,/\"n\": 4096,/'\n");
  const ProcessResult mixed = ab({fast, smallReport, "--pairs", "6"});
  EXPECT_EQ(mixed.status, 0) << mixed.err;
  EXPECT_NE(mixed.out.find("fingerprints and steps are not compared"), std::string::npos);
  EXPECT_NE(mixed.out.find("n 4096, block 32"), std::string::npos) << mixed.out;

  const std::string nothing = script(dir, "nothing", "echo hello\n", false);
  for (const auto& [arguments, status, said] :
       std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
           {{fast, slow, "--n", "48,64"}, 64, "give one --n and one --block"},
           {{kReport, slow, "--n", "64"}, 64, "the new build is a plain benchmark"},
           {{fast, kReport, "--n", "64"}, 64, "--n 64 cannot be passed on"},
           {{fast, slow, "--block", "8"}, 64, "--block 8 cannot be passed on"},
           {{fast, kReport, "--seed", "5"}, 64, "--seed cannot be passed on"},
           {{kReport, kReport, "--pairs", "5"}, 64, "--pairs"},
           {{kReport, kReport, "--affinity", "100000"}, 64, "--affinity"},
           {{kReport, dir.path("missing")}, 1, "could not be started: No such file"},
           {{kReport, nothing}, 1, "is neither lubench-report"},
       }) {
    const ProcessResult r = ab(arguments);
    EXPECT_EQ(r.status, status) << said << "\n" << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
}

TEST(AbTool, ASignalStopsTheChildAndKeepsTheFinishedPairs) {
  ProcessSetup setup;
  setup.signal = SIGTERM;
  setup.signalAfterMilliseconds = 3000;  // long enough for a pair even in a sanitized build
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult r = ab(
      {kReport, kReport, "--n", "96", "--seed", "1", "--pairs", "10000", "--format", "json"},
      setup);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_NE(r.err.find("interrupted by SIGTERM"), std::string::npos) << r.err;
  const json document = parsed(r.out);
  EXPECT_EQ(document["interrupted_by"], "SIGTERM");
  ASSERT_EQ(document["combinations"].size(), 1u);
  EXPECT_GT(document["combinations"][0]["pairs"].size(), 0u);
  EXPECT_LT(document["combinations"][0]["pairs"].size(), 10000u);
  EXPECT_EQ(document["finished_combinations"], 0) << "the combination was cut short";
}


TEST(AbTool, AChildIsWaitedForNotWhatItLeavesAndItsWholeGroupIsStopped) {
  ScratchDirectory dir("ab");
  const std::string pids = dir.path("pids");
  const std::vector<std::string> common{"--n", "48", "--seed", "5", "--pairs", "6", "--format",
                                        "json"};
  const auto withCommon = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), common.begin(), common.end());
    return arguments;
  };
  // A process left in the background holds the pipes open: the document is there as soon as the
  // report has ended, and what it left is stopped with it.
  {
    const std::string young = script(dir, "background", "sleep 30 &\necho $! >> '" + pids +
                                                            "'\nexec '" + kReport + "' \"$@\"\n");
    const auto start = std::chrono::steady_clock::now();
    // Were the pipes' ends waited for, the first run would meet the 8 s limit (status 1); the
    // bound on the whole session leaves room for a sanitized build on a loaded machine.
    const ProcessResult r = ab(withCommon({kReport, young, "--timeout", "8"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(25));
    EXPECT_EQ(parsed(r.out)["combinations"][0]["pairs"].size(), 6u);
    EXPECT_TRUE(allEnded(pids)) << "what a child left is not left running";
  }
  // A wrapper that does not exec: a timeout and a signal stop what it started too.
  const std::string wrapper =
      script(dir, "wrapper", "sleep 30 &\necho $! >> '" + pids + "'\nwait\n");
  {
    std::remove(pids.c_str());
    const ProcessResult r = ab(withCommon({kReport, wrapper, "--timeout", "1"}));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("did not finish within 1 s"), std::string::npos) << r.err;
    EXPECT_TRUE(allEnded(pids)) << "the timeout stops the group";
  }
  {
    std::remove(pids.c_str());
    ProcessSetup setup;
    setup.signal = SIGTERM;
    setup.signalAfterMilliseconds = 2500;
    const ProcessResult r = ab(withCommon({kReport, wrapper, "--timeout", "60"}), setup);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
    EXPECT_TRUE(allEnded(pids)) << "the signal is passed on to the group";
  }
  // A long standard error is shown by its head and its tail, where the last word usually is.
  {
    const std::string noisy = script(
        dir, "noisy",
        "i=0\nwhile [ $i -lt 400 ]; do echo \"noise line $i\" >&2; i=$((i+1)); done\n"
        "echo 'the real error' >&2\nexit 1\n");
    const ProcessResult r = ab(withCommon({kReport, noisy}));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("noise line 0\\x0A"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" bytes cut ...] "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the real error"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("noise line 200\\x0A"), std::string::npos) << "the middle is cut";
  }
}

TEST(AbTool, StatusesAndHangupsHoldWhateverTheParentLeftIgnored) {
  ScratchDirectory dir("ab");
  const std::vector<std::string> common{"--n", "48", "--seed", "5", "--pairs", "6", "--format",
                                        "json"};
  const auto run = [&](const std::string& body, const ProcessSetup& setup) {
    std::vector<std::string> arguments{kReport, script(dir, "new", body)};
    arguments.insert(arguments.end(), common.begin(), common.end());
    return ab(arguments, setup);
  };
  const std::string report = "'" + kReport + "' \"$@\"";
  // Started with SIGCHLD ignored: every child's ending is still read.
  ProcessSetup noChildSignal;
  noChildSignal.ignoredSignals = {SIGCHLD};
  {
    const ProcessResult r = run(report + "\nexit 2\n", noChildSignal);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(parsed(r.out)["combinations"][0]["pairs"].size(), 6u);
  }
  {
    const ProcessResult r = run("kill -SEGV $$\n", noChildSignal);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("killed by SIGSEGV"), std::string::npos) << r.err;
  }
  // A side that sends SIGHUP to the session and to itself: under nohup both go on; without,
  // the session stops as for any signal.
  const std::string hangup = "kill -HUP $PPID\nkill -HUP $$\nexec " + report + "\n";
  ProcessSetup nohup;
  nohup.ignoredSignals = {SIGHUP};
  {
    const ProcessResult r = run(hangup, nohup);
    EXPECT_EQ(r.status, 0) << r.err;
    const json document = parsed(r.out);
    EXPECT_EQ(document["interrupted"], false);
    EXPECT_EQ(document["combinations"][0]["pairs"].size(), 6u);
  }
  EXPECT_EQ(run(hangup, {}).status, 128 + SIGHUP);
}

}  // namespace

TEST(AbTool, OutNeverReplacesABuildTakesHostAndRankAndASignalKeepsTheDocument) {
  ScratchDirectory dir("ab");
  const std::string fast =
      script(dir, "fast", "echo 'time_spent1 runtime: 1000 nanoseconds'\n", false);
  const std::string slow =
      script(dir, "slow", "echo 'time_spent1 runtime: 3000 nanoseconds'\n", false);
  const std::string before = fileText(fast);
  ASSERT_EQ(symlink(slow.c_str(), dir.path("to-slow").c_str()), 0);
  // Refused before any run, with one line: an executable, the same through a link, no name.
  for (const auto& [out, said] : std::vector<std::pair<std::string, std::string>>{
           {fast, "names an input"}, {dir.path("to-slow"), "names an input"},
           {"", "needs a file name"}}) {
    const ProcessResult r = ab({fast, slow, "--pairs", "6", "--out", out});
    EXPECT_EQ(r.status, 64) << out << "\n" << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "") << "nothing ran";
  }
  EXPECT_EQ(fileText(fast), before);
  ProcessSetup ranked;
  ranked.environment = {"SLURM_PROCID=3"};
  const ProcessResult named =
      ab({fast, slow, "--pairs", "6", "--out", dir.path("s-{host}-{rank}.json")}, ranked);
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(parsed(fileText(dir.path("s-" + hostName() + "-3.json")))["document_kind"],
            "ab_session");

  // A FIFO nobody reads: the signal ends the wait with its own status, and the finished session
  // is kept in a file that the message names.
  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ProcessSetup interrupted;
  interrupted.signal = SIGINT;
  interrupted.signalWhen = "geometric mean";
  interrupted.environment = {"TMPDIR=" + dir.path("")};
  const ProcessResult r = ab({fast, slow, "--pairs", "6", "--out", fifo}, interrupted);
  EXPECT_EQ(r.status, 128 + SIGINT) << r.err;
  const std::string said = "interrupted by SIGINT while waiting for a reader of " + fifo +
                           ": the session's document was not written; it is kept in ";
  const std::size_t at = r.err.find(said);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::string kept = r.err.substr(at + said.size(), r.err.find('\n', at) - at - said.size());
  EXPECT_EQ(parsed(fileText(kept))["combinations"][0]["pairs"].size(), 6u) << kept;
}

TEST(AbTool, TwoOutsTakeTheirNamesFormatsAndOneFileIsNeverNamedTwice) {
  ScratchDirectory dir("ab");
  const std::string fast =
      script(dir, "fast", "echo 'time_spent1 runtime: 1000 nanoseconds'\n", false);
  const std::string slow =
      script(dir, "slow", "echo 'time_spent1 runtime: 3000 nanoseconds'\n", false);
  const ProcessResult r = ab({fast, slow, "--pairs", "6", "--format", "md", "--out",
                              dir.path("s.json"), "--out", dir.path("s.md")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fileText(dir.path("s.md")), r.out) << "the Markdown of the same session";
  EXPECT_EQ(parsed(fileText(dir.path("s.json")))["combinations"][0]["pairs"].size(), 6u);
  for (const auto& [second, said] : std::vector<std::pair<std::string, std::string>>{
           {dir.path("s.json"), "name the same file"}, {dir.path("s.csv"), "asks for CSV"}}) {
    const ProcessResult refused =
        ab({fast, slow, "--pairs", "6", "--out", dir.path("s.json"), "--out", second});
    EXPECT_EQ(refused.status, 64) << refused.err;
    EXPECT_NE(refused.err.find(said), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "") << "nothing ran";
  }
}

TEST(AbTool, APathAndKernelArePassedOnlyToSidesThatListThem) {
  ScratchDirectory dir("ab");
  // An older build: its --help, less the two options, and it records what it was given.
  const std::string older =
      script(dir, "older",
             "if [ \"$1\" = --help ]; then '" + kReport +
                 "' --help | grep -v -e --vector-path -e --kernel; exit 0; fi\necho \"$*\" >> '" +
                 dir.path("older.log") + "'\nexec '" + kReport + "' \"$@\"\n",
             false);
  const std::vector<std::string> common = {
      "--n",      "48",   "--seed",        "5",        "--pairs",  "6",
      "--format", "json", "--vector-path", "portable", "--kernel", "bands_6_5x2v1"};
  std::vector<std::string> both = {kReport, kReport};
  both.insert(both.end(), common.begin(), common.end());
  const ProcessResult forced = ab(both);
  ASSERT_EQ(forced.status, 0) << forced.err;
  const json document = parsed(forced.out);
  EXPECT_EQ(document["context"]["kernel_option"], "bands_6_5x2v1");
  EXPECT_TRUE(document["context"]["old_takes_kernel"].get<bool>());
  for (const json& pair : document["combinations"][0]["pairs"]) {
    EXPECT_EQ(pair["old"]["kernel"], "bands_6_5x2v1");
    EXPECT_EQ(pair["new"]["vector_path"], "portable");
  }
  std::vector<std::string> mixed = {older, kReport};
  mixed.insert(mixed.end(), common.begin(), common.begin() + 6);  // --n, --seed, --pairs
  mixed.insert(mixed.end(), {"--kernel", "bands_6_5x2v1"});
  const ProcessResult text = ab(mixed);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("--kernel bands_6_5x2v1: passed to the new build only"),
            std::string::npos)
      << text.out;
  EXPECT_EQ(fileText(dir.path("older.log")).find("--kernel"), std::string::npos);
  // A list is refused before anything runs.
  EXPECT_EQ(ab({kReport, kReport, "--kernel", "a,b"}).status, 64);
}
