#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "process_runner.hpp"

// lubench-report fleet on crafted nodes' documents, and on documents written by ranks that Open
// MPI's mpirun started.

namespace {

using json = nlohmann::json;

struct Node {
  std::string host;
  std::string cpuModel;
  double median;  // ns
  std::string fingerprint = "00000000000000aa";
  json copies = nullptr;
};

json document(const Node& node) {
  json runs = json::array();
  for (double f : {0.99, 1.0, 1.01}) runs.push_back(json{{"timed_ns", node.median * f}});
  return json{{"document_kind", "run"},
              {"context",
               {{"json_schema_version", 2},
                {"host_name", node.host},
                {"cpu_model", node.cpuModel},
                {"lubench_version", "0.19.0"},
                {"git_commit", "abc"}}},
              {"benchmarks",
               json::array({json{{"n", 4096},
                                 {"block", 32},
                                 {"seed", 42},
                                 {"fingerprint", node.fingerprint},
                                 {"runs", runs},
                                 {"copies", node.copies}}})}};
}

json copy(int cpu, double median, const std::string& fingerprint) {
  return json{{"cpu", cpu},           {"core", cpu},
              {"fingerprint", fingerprint}, {"median_timed_ns", median},
              {"finished", true}};
}

ProcessResult fleet(const std::vector<std::string>& arguments, const ProcessSetup& setup = {}) {
  std::vector<std::string> all{"fleet"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return runProcess(LUBENCH_REPORT_EXECUTABLE, all, setup);
}

TEST(FleetTool, RanksLikeNodesMarksTheSlowAndNamesEveryDissenter) {
  ScratchDirectory dir("fleet");
  std::filesystem::create_directory(dir.path("nodes"));
  std::vector<Node> nodes;
  for (int i = 0; i < 6; ++i) nodes.push_back({"a" + std::to_string(i), "Xeon", 100.0 + i});
  nodes.push_back({"a-slow", "Xeon", 130});
  nodes.push_back({"b0", "EPYC", 200});
  nodes.push_back({"b1", "EPYC", 205});
  nodes[2].copies = json{{"per_copy", json::array({copy(0, 150, "00000000000000aa"),
                                                   copy(5, 151, "00000000000000bb")})}};
  for (const Node& node : nodes) {
    dir.write("nodes/" + node.host + ".json", document(node).dump());
  }
  dir.write("nodes/garbage.json", "{\"context\": 1");
  dir.write("nodes/ignored.txt", "not read: not *.json");
  Node wrong{"lone", "Xeon", 102, "00000000000000cc"};
  const std::string lone = dir.write("lone.json", document(wrong).dump());

  const ProcessResult r = fleet({dir.path("nodes"), lone, "--format", "json"});
  EXPECT_EQ(r.status, 3) << r.err;
  const json report = json::parse(r.out);
  EXPECT_EQ(report["documents"], 10);
  ASSERT_EQ(report["skipped"].size(), 1u);
  EXPECT_NE(report["skipped"][0].get<std::string>().find("garbage.json"), std::string::npos);
  const json& c = report["combinations"][0];
  EXPECT_EQ(c["majority_fingerprint"], "00000000000000aa");
  ASSERT_EQ(c["dissents"].size(), 2u) << c["dissents"].dump();
  EXPECT_NE(c["dissents"].dump().find("a2, CPU 5 (core 5): 00000000000000bb"), std::string::npos);
  EXPECT_NE(c["dissents"].dump().find("lone: 00000000000000cc"), std::string::npos);
  // Unlike machines are ranked apart; copies run together apart from single copies.
  ASSERT_EQ(c["groups"].size(), 3u);
  for (const json& group : c["groups"]) {
    const std::vector<json> entries = group["entries"];
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), [](const json& a, const json& b) {
      return a["median_ns"] < b["median_ns"];
    }));
    for (const json& e : entries) {
      EXPECT_EQ(e["slow"].get<bool>(), e["node"] == "a-slow") << e.dump();
    }
  }
  EXPECT_NE(fleet({dir.path("nodes")}).out.find("a-slow"), std::string::npos);

  // Without the dissenters: healthy, unless a node is slower than the gate.
  std::filesystem::remove(dir.path("nodes/a2.json"));
  EXPECT_EQ(fleet({dir.path("nodes")}).status, 0);
  EXPECT_EQ(fleet({dir.path("nodes"), "--fail-below", "25"}).status, 4);
  EXPECT_EQ(fleet({dir.path("nodes"), "--fail-below", "35"}).status, 0);
  // +25.6 % is an outlier among six nodes within 5 % of each other, but marked only when it is
  // also beyond --slower-than.
  const std::string marked =
      fleet({dir.path("nodes"), "--slower-than", "20", "--format", "md"}).out;
  EXPECT_NE(marked.find("| a-slow | 130 | +25.6 % | 00000000000000aa | ? | ? | SLOW |"),
            std::string::npos)
      << marked;
  const std::string within =
      fleet({dir.path("nodes"), "--slower-than", "40", "--format", "md"}).out;
  EXPECT_NE(within.find("| a-slow | 130 | +25.6 % | 00000000000000aa | ? | ? |  |"),
            std::string::npos)
      << within;
  std::filesystem::create_directory(dir.path("empty"));
  const ProcessResult none = fleet({dir.path("empty"), dir.path("nodes/garbage.json")});
  EXPECT_EQ(none.status, 64);
  EXPECT_NE(none.err.find("no document could be read"), std::string::npos);
}

TEST(FleetTool, NeitherMarksNorBlamesBeyondWhatTheDocumentsShow) {
  ScratchDirectory dir("fleet-bounds");
  std::filesystem::create_directory(dir.path("equal"));
  // A nanosecond over six equal nodes: the MAD is 0, and the score alone would call it far out.
  for (int i = 0; i < 6; ++i) {
    dir.write("equal/a" + std::to_string(i) + ".json",
              document({"a" + std::to_string(i), "Xeon", 25000}).dump());
  }
  dir.write("equal/late.json", document({"late", "Xeon", 25001}).dump());
  const json equal = json::parse(fleet({dir.path("equal"), "--format", "json"}).out);
  for (const json& e : equal["combinations"][0]["groups"][0]["entries"]) {
    EXPECT_FALSE(e["slow"].get<bool>()) << e.dump();
  }
  // Below five entries --slower-than alone decides.
  std::filesystem::create_directory(dir.path("few"));
  dir.write("few/a.json", document({"a", "Xeon", 100}).dump());
  dir.write("few/b.json", document({"b", "Xeon", 100}).dump());
  dir.write("few/c.json", document({"c", "Xeon", 115}).dump());
  const json few = json::parse(fleet({dir.path("few"), "--format", "json"}).out);
  EXPECT_EQ(few["combinations"][0]["groups"][0]["entries"][2]["slow"], true);

  // One good document and one dissenting: a tie, both sides named, neither taken as healthy.
  const std::string good = dir.write("a-good.json", document({"good", "Xeon", 100}).dump());
  const std::string bad =
      dir.write("b-bad.json", document({"bad", "Xeon", 100, "00000000000000bb"}).dump());
  const ProcessResult tie = fleet({good, bad, "--format", "json"});
  EXPECT_EQ(tie.status, 3);
  const json tied = json::parse(tie.out)["combinations"][0];
  EXPECT_EQ(tied["fingerprint_tie"], true);
  EXPECT_TRUE(tied["majority_fingerprint"].is_null());
  ASSERT_EQ(tied["dissents"].size(), 1u) << tied.dump();
  const std::string line = tied["dissents"][0];
  EXPECT_NE(line.find("1 of 2 gave 00000000000000aa: good"), std::string::npos) << line;
  EXPECT_NE(line.find("1 of 2 gave 00000000000000bb: bad"), std::string::npos) << line;
  EXPECT_NE(fleet({good, bad}).out.find("FINGERPRINTS DISAGREE: a tie"), std::string::npos);

  // The same file twice, through a link, or another document of the same host and rank: each
  // read once, with a warning; the bad document then stands alone against two goods, not four.
  const std::string link = dir.path("link.json");
  ASSERT_EQ(symlink(good.c_str(), link.c_str()), 0);
  const std::string again = dir.write("again.json", document({"bad", "Xeon", 100}).dump());
  const ProcessResult doubled =
      fleet({good, good, link, bad, again, dir.write("c.json", document({"c", "Xeon", 100}).dump()),
             "--format", "json"});
  const json read = json::parse(doubled.out);
  EXPECT_EQ(read["documents"], 3) << doubled.out;
  EXPECT_EQ(read["warnings"].size(), 3u) << read["warnings"].dump();
  EXPECT_NE(read["warnings"].dump().find("link.json is the same file as"), std::string::npos);
  EXPECT_NE(read["warnings"].dump().find("a-good.json is named twice"), std::string::npos);
  EXPECT_NE(read["warnings"].dump().find("again.json is from bad as"), std::string::npos);
  EXPECT_EQ(read["combinations"][0]["majority_fingerprint"], "00000000000000aa");
  EXPECT_NE(read["combinations"][0]["dissents"][0].get<std::string>().find(
                "bad: 00000000000000bb where 2 of 3 gave"),
            std::string::npos)
      << read.dump();
}

TEST(FleetTool, DeadCopiesAreNamedWithTheirNodeCpuAndHowTheyDied) {
  ScratchDirectory dir("fleet");
  json dead = copy(1, 0, "");
  dead.update(json{{"median_timed_ns", nullptr}, {"fingerprint", nullptr}, {"agrees", nullptr},
                   {"exit_status", nullptr}, {"finished", false}, {"signal", "SIGKILL"},
                   {"died", "killed by SIGKILL"}});
  Node node{"a", "X", 100};
  node.copies = json{{"per_copy", json::array({copy(0, 150, "00000000000000aa"), dead})}};
  json written = document(node);
  written["context"]["rank"] = 3;
  dir.write("a.json", written.dump());
  // A document from before "died" names the signal alone.
  dead.erase("died");
  dead["signal"] = "SIGSEGV";
  node.host = "b";
  node.copies["per_copy"][1] = dead;
  dir.write("b.json", document(node).dump());
  const ProcessResult r = fleet({dir.path("a.json"), dir.path("b.json")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("a.json: a copy died: a rank 3, CPU 1 (core 1), n 4096 block 32: killed "
                       "by SIGKILL"),
            std::string::npos)
      << r.out << r.err;
  EXPECT_NE(r.out.find("a copy died: b, CPU 1 (core 1), n 4096 block 32: killed by SIGSEGV"),
            std::string::npos)
      << r.out << r.err;
  const ProcessResult j = fleet({"--format", "json", dir.path("a.json")});
  const json parsedFleet = json::parse(j.out, nullptr, false);
  ASSERT_FALSE(parsedFleet.is_discarded()) << j.out;
  EXPECT_NE(parsedFleet["warnings"].dump().find("killed by SIGKILL"), std::string::npos);
  EXPECT_EQ(parsedFleet["combinations"][0]["groups"].size(), 2u) << "the live copy is ranked";
}

TEST(FleetTool, RanksStartedByMpirunWriteOneDocumentEachAndTheFleetReadsThem) {
  ScratchDirectory dir("fleet");
  std::vector<std::string> arguments;
  if (geteuid() == 0) arguments.push_back("--allow-run-as-root");
  for (const char* a : {"--oversubscribe", "-np", "2", LUBENCH_REPORT_EXECUTABLE, "--n", "64",
                        "--seed", "1", "--no-peak", "--summary", "--out"}) {
    arguments.push_back(a);
  }
  arguments.push_back(dir.path("lu-{host}-{rank}.json"));
  const ProcessResult launched = runProcess(LUBENCH_MPIRUN, arguments);
  ASSERT_EQ(launched.status, 0) << launched.out << launched.err;
  const ProcessResult r = fleet({dir.path(""), "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json report = json::parse(r.out);
  EXPECT_EQ(report["documents"], 2);
  std::vector<std::string> names;
  for (const json& e : report["combinations"][0]["groups"][0]["entries"]) names.push_back(e["node"]);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_NE(names[0].find(" rank 0"), std::string::npos) << names[0];
  EXPECT_NE(names[1].find(" rank 1"), std::string::npos) << names[1];
}

TEST(FleetTool, TheKernelsAskedForAreRankedApartEachNodeSayingWhatItRan) {
  ScratchDirectory dir("fleet");
  // Two builds that hold the same paths and kernels, one of them from an older build that named
  // only its one vector path; each node ran the automatic choice and an asked kernel.
  const json held = json::array({json{{"name", "avx2"}, {"kernels", {"k1", "k2"}}}});
  for (const auto& [host, median] :
       std::vector<std::pair<std::string, double>>{{"n1", 100}, {"n2", 104}}) {
    json d = document({host, "Xeon", median});
    d["context"]["vector_paths"] = held;
    json& automatic = d["benchmarks"][0];
    automatic["vector_path"] = "avx2";
    automatic["kernel"] = "k1";
    json forced = automatic;
    forced["kernel_option"] = "k2";
    forced["kernel"] = "k2";
    for (json& run : forced["runs"]) run["timed_ns"] = 3 * run["timed_ns"].get<double>();
    d["benchmarks"].push_back(forced);
    dir.write(host + ".json", d.dump());
  }
  json older = document({"n3", "Xeon", 102});
  older["context"]["vector_path"] = "avx2";
  dir.write("n3.json", older.dump());

  const ProcessResult r = fleet({dir.path(""), "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json report = json::parse(r.out);
  ASSERT_EQ(report["combinations"].size(), 2u) << r.out;
  const json& automatic = report["combinations"][0];
  const json& forced = report["combinations"][1];
  EXPECT_EQ(automatic["kernel_option"], "auto");
  EXPECT_EQ(forced["kernel_option"], "k2");
  // The older build holds another set (as far as its document says): a group of its own.
  ASSERT_EQ(automatic["groups"].size(), 2u);
  ASSERT_EQ(forced["groups"].size(), 1u);
  const json& entries = forced["groups"][0]["entries"];
  ASSERT_EQ(entries.size(), 2u);
  for (const json& e : entries) {
    EXPECT_EQ(e["vector_path"], "avx2");
    EXPECT_EQ(e["kernel"], "k2");
    EXPECT_EQ(e["slow"], false) << "ranked among the k2 runs, not beside the faster k1 ones";
  }
  EXPECT_NE(forced["groups"][0]["build"].get<std::string>().find("avx2: k1, k2"),
            std::string::npos);
  const std::string text = fleet({dir.path("")}).out;
  EXPECT_NE(text.find("n 4096, block 32, kernel k2, seed 42"), std::string::npos) << text;
  EXPECT_NE(text.find("avx2     k2 "), std::string::npos) << text;
}

TEST(FleetTool, OutputsNeverReplaceADocumentAndMarkdownCellsHoldWhatTheyAreGiven) {
  ScratchDirectory dir("fleet");
  const std::string nodes = dir.path("nodes");
  std::filesystem::create_directory(nodes);
  const std::string text = document({"a|b", "AMD EPYC", 1.0e9}).dump();
  const std::string first = dir.write("nodes/a.json", text);
  dir.write("nodes/b.json", document({"c", "AMD EPYC", 1.1e9}).dump());
  ASSERT_EQ(symlink(first.c_str(), dir.path("to-a.json").c_str()), 0);
  // A document read from a directory, the same through a link, and no name: refused.
  for (const auto& [out, said] : std::vector<std::pair<std::string, std::string>>{
           {nodes + "/b.json", "names an input"}, {dir.path("to-a.json"), "names an input"},
           {"", "needs a file name"}}) {
    const ProcessResult r = fleet({nodes, "--out", out});
    EXPECT_EQ(r.status, 64) << out << "\n" << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
  EXPECT_EQ(json::parse(std::ifstream(first))["context"]["host_name"], "a|b");

  // A '|' from a document stays inside its Markdown cell.
  ProcessSetup ranked;
  ranked.environment = {"PMIX_RANK=7"};
  ASSERT_EQ(fleet({nodes, "--format", "md", "--out", dir.path("f-{host}-{rank}.md")}, ranked).status,
            0);
  std::ifstream in(dir.path("f-" + hostName() + "-7.md"));
  const std::string md(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(md.find("| a\\|b | "), std::string::npos) << md;
  std::istringstream lines(md);
  for (std::string row; std::getline(lines, row);) {
    if (!row.starts_with("| ")) continue;
    std::size_t cells = 0;
    for (std::size_t i = 0; i < row.size(); ++i) {
      cells += row[i] == '|' && (i == 0 || row[i - 1] != '\\');
    }
    EXPECT_EQ(cells, 8u) << row;
  }

  // Two outputs at once, each in the format its name says, standard output keeping the text.
  const ProcessResult twice =
      fleet({nodes, "--out", dir.path("fleet.json"), "--out", dir.path("fleet.md")});
  ASSERT_EQ(twice.status, 0) << twice.err;
  EXPECT_NE(twice.out.find("lubench-report fleet: 2 documents"), std::string::npos) << twice.out;
  EXPECT_FALSE(json::parse(std::ifstream(dir.path("fleet.json")), nullptr, false).is_discarded());
  std::ifstream markdown(dir.path("fleet.md"));
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(markdown), {}).find("| a\\|b | "),
            std::string::npos);
  EXPECT_EQ(fleet({nodes, "--out", dir.path("fleet.csv")}).status, 64);

  // A FIFO nobody reads: a signal ends the wait with its own status and says what was lost.
  const std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ProcessSetup interrupted;
  interrupted.signal = SIGHUP;
  interrupted.signalAfterMilliseconds = 1500;
  const ProcessResult r = fleet({nodes, "--out", fifo}, interrupted);
  EXPECT_EQ(r.status, 128 + SIGHUP) << r.err;
  EXPECT_NE(r.err.find("interrupted by SIGHUP while waiting for a reader of " + fifo +
                       ": the fleet's report was not written"),
            std::string::npos)
      << r.err;
}

}  // namespace

namespace {

// A reference bands' document of one band for n 4096, block 32.
std::string bandsFor(ScratchDirectory& dir, const std::string& model, double lower,
                     double upper) {
  const json bands{{"document_kind", "expectations"},
                   {"expectations",
                    json::array({json{{"cpu_model", model},
                                      {"vector_path", "avx2"},
                                      {"n", 4096},
                                      {"block", 32},
                                      {"gflops", (lower + upper) / 2},
                                      {"lower", lower},
                                      {"upper", upper}}})}};
  return dir.write("bands.json", bands.dump());
}

TEST(FleetTool, ExpectChecksEveryEntryAgainstItsOwnBandEvenInAFleetOfOne) {
  ScratchDirectory dir("fleet");
  // 2/3 n^3 + 3/2 n^2 operations at n 4096 in a second: 45.84 GFLOP/s; the copy takes twice as
  // long.
  json node = document({"n1", "AMD EPYC", 1.0e9});
  node["benchmarks"][0]["vector_path"] = "avx2";
  const std::string alone = dir.write("alone.json", node.dump());
  node["benchmarks"][0]["copies"] = json{{"per_copy", json::array({copy(3, 2.0e9, "00000000000000aa")})}};
  const std::string withCopy = dir.write("with-copy.json", node.dump());

  const std::string generous = bandsFor(dir, "AMD EPYC", 40, 50);
  ProcessResult r = fleet({alone, "--expect", generous, "--format", "json"});
  EXPECT_EQ(r.status, 0) << r.err;
  json report = json::parse(r.out);
  json entry = report["combinations"][0]["groups"][0]["entries"][0];
  EXPECT_EQ(entry["cpu_model"], "AMD EPYC");
  EXPECT_EQ(entry["expectation"]["verdict"], "within") << entry.dump();
  EXPECT_EQ(entry["expectation"]["lower"], 40);
  EXPECT_EQ(entry["expectation"]["upper"], 50);
  EXPECT_NEAR(entry["expectation"]["measured_gflops"].get<double>(), 45.838, 0.001);
  EXPECT_EQ(report["expectations_file"], generous);

  // The copy, alone in its group, is outside the band the single copy is within.
  r = fleet({withCopy, "--expect", generous});
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.out.find("45.84 GFLOP/s, expected 40.0–50.0 GFLOP/s: within"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("OUTSIDE band: 22.92 GFLOP/s, expected 40.0–50.0 GFLOP/s: below"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("OUTSIDE BAND: n1, CPU 3 (core 3), n 4096, block 32 on avx2: 22.92 "
                       "GFLOP/s is below the band 40.0–50.0 GFLOP/s expected of AMD EPYC"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("n1, n 4096"), std::string::npos) << "the single copy is within";

  // A fleet of one node faster than its band: marked and failed.
  r = fleet({alone, "--expect", bandsFor(dir, "AMD EPYC", 30, 45), "--format", "md"});
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.out.find("| node | median (ns) | over median | fingerprint | path | kernel | | band |"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("| OUTSIDE band: 45.84 GFLOP/s, expected 30.0–45.0 GFLOP/s: above |"),
            std::string::npos)
      << r.out;

  // No band for this CPU model: said on both streams, not failed.
  r = fleet({alone, "--expect", bandsFor(dir, "AMD EPYC 7763", 30, 45), "--format", "json"});
  EXPECT_EQ(r.status, 0) << r.err;
  entry = json::parse(r.out)["combinations"][0]["groups"][0]["entries"][0];
  EXPECT_EQ(entry["expectation"]["verdict"], "no_reference");
  EXPECT_TRUE(entry["expectation"]["lower"].is_null());
  EXPECT_NE(r.err.find("no reference: n1, n 4096, block 32 on avx2: no reference band for AMD "
                       "EPYC ("),
            std::string::npos)
      << r.err;
  EXPECT_NE(fleet({alone, "--expect", dir.path("bands.json")}).out.find("no reference"),
            std::string::npos);
  // Without --expect nothing is checked.
  r = fleet({alone, "--format", "json"});
  EXPECT_TRUE(json::parse(r.out)["combinations"][0]["groups"][0]["entries"][0]["expectation"]
                  .is_null());
  EXPECT_EQ(r.out.find("band"), std::string::npos);
}

TEST(FleetTool, ExpectTakesOnlyAReferenceBandsDocumentAndNeverReplacesIt) {
  ScratchDirectory dir("fleet");
  const std::string node = dir.write("n1.json", document({"n1", "AMD EPYC", 1.0e9}).dump());
  ProcessResult r = fleet({node, "--expect", node});
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("--expect: " + node + ": is a run's document, not a reference bands' "
                       "document"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.empty());

  const std::string broken = dir.write(
      "broken.json", R"({"document_kind": "expectations", "expectations": [{"cpu_model": "X"}]})");
  r = fleet({node, "--expect", broken});
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("broken.json: expectations[0]: \"vector_path\" is missing"),
            std::string::npos)
      << r.err;

  // A FIFO without a writer is refused at once.
  const std::string fifo = dir.path("bands.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  r = fleet({node, "--expect", fifo});
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("is a FIFO"), std::string::npos) << r.err;

  const std::string bands = bandsFor(dir, "AMD EPYC", 40, 50);
  r = fleet({node, "--expect", bands, "--out", bands});
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("names an input"), std::string::npos) << r.err;
  EXPECT_NE(std::ifstream(bands).peek(), EOF) << "the bands are left as they were";
}

}  // namespace
