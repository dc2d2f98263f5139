#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "process_runner.hpp"

// lubench-report compare, end to end on crafted documents, and the options that write results
// elsewhere than the table: --out, --format, --plot, --context, --affinity.

namespace {

using json = nlohmann::json;

ProcessResult runReportTool(const std::vector<std::string>& arguments,
                            const ProcessSetup& setup = {}) {
  return runProcess(LUBENCH_REPORT_EXECUTABLE, arguments, setup);
}

struct Crafted {
  int n;
  int block;
  const char* fingerprint;
  std::vector<double> times;  // timed regions, ns
  std::string kernelOption = "auto";  // written only when not auto, as before the key existed
  std::string kernel = "";            // the kernel that ran, written when given
};

// A document as lubench-report writes it, with only what compare reads.
json document(const std::vector<Crafted>& benchmarks, const char* commit = "abc", int schema = 2) {
  json out{{"context",
            {{"json_schema_version", schema},
             {"cpu_model", "AMD EPYC"},
             {"compiler", "GCC"},
             {"git_commit", commit}}},
           {"benchmarks", json::array()}};
  for (const Crafted& c : benchmarks) {
    json runs = json::array();
    for (double t : c.times) runs.push_back(json{{"timed_ns", t}});
    out["benchmarks"].push_back(
        json{{"n", c.n},
             {"block", c.block},
             {"seed", 1},
             {"fingerprint", std::string(16 - std::strlen(c.fingerprint), '0') + c.fingerprint},
             {"runs", runs}});
    if (c.kernelOption != "auto") out["benchmarks"].back()["kernel_option"] = c.kernelOption;
    if (!c.kernel.empty()) out["benchmarks"].back()["kernel"] = c.kernel;
  }
  return out;
}

std::vector<double> around(double centre, int count = 10) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) times.push_back(centre + (i % 5) - 2 + 0.1 * i);
  return times;
}

class Files : public ScratchDirectory {
 public:
  Files() : ScratchDirectory("lubench-compare") {}
};

// compare, ab and fleet name their formats alike, and each --out takes the format its name
// says, beside standard output's: one comparison written as JSON and Markdown at once.
TEST(CompareTool, EachOutTakesTheFormatItsNameSaysAndNoneReplacesAnInput) {
  Files files;
  const std::string old = files.write("old.json", document({{64, 32, "f1", around(1000)}}).dump());
  const std::string changed =
      files.write("new.json", document({{64, 32, "f1", around(800)}}, "def").dump());
  const std::string asJson = files.path("c.json"), asMd = files.path("c.MD");
  const ProcessResult both = runReportTool(
      {"compare", old, changed, "--noise", "10", "--out", asJson, "--out", asMd});
  ASSERT_EQ(both.status, 0) << both.err;
  EXPECT_NE(both.out.find("old median"), std::string::npos) << "standard output keeps the text";
  const auto readAll = [](const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const json saved = json::parse(readAll(asJson), nullptr, false);
  ASSERT_FALSE(saved.is_discarded());
  EXPECT_EQ(saved["comparisons"][0]["rows"][0]["verdict"], "faster");
  EXPECT_EQ(readAll(asMd),
            runReportTool({"compare", old, changed, "--noise", "10", "--format", "md"}).out);
  EXPECT_EQ(runReportTool({"compare", old, changed, "--noise", "10", "--format", "table"}).out,
            both.out);

  // Refused before anything is read or written: CSV, which compare does not write; two outputs
  // naming one file; an output naming a document compared; a format nobody writes.
  for (const std::vector<std::string>& refused :
       {std::vector<std::string>{"--out", files.path("c.csv")},
        {"--out", files.path("twice.json"), "--out", files.path("./twice.json")},
        {"--out", changed},
        {"--format", "csv"}}) {
    std::vector<std::string> arguments = {"compare", old, changed, "--noise", "10"};
    arguments.insert(arguments.end(), refused.begin(), refused.end());
    const ProcessResult result = runReportTool(arguments);
    EXPECT_EQ(result.status, 64) << refused.back() << "\n" << result.err;
  }
  EXPECT_FALSE(std::filesystem::exists(files.path("c.csv")));
  EXPECT_FALSE(std::filesystem::exists(files.path("twice.json")));
  EXPECT_EQ(json::parse(readAll(changed), nullptr, false)["context"]["git_commit"], "def");
}

TEST(CompareTool, VerdictsFingerprintsAndBadFiles) {
  Files files;
  const std::string old = files.write("old.json", document({{64, 32, "f1", around(1000)},
                                                            {128, 32, "f2", around(5000)},
                                                            {256, 32, "f3", around(9000)}})
                                                      .dump());
  const std::string changed = files.write("new.json", document({{64, 32, "f1", around(800)},
                                                                {128, 32, "f2", around(6500)},
                                                                {256, 32, "f3", around(9000)},
                                                                {512, 32, "f4", around(100, 3)}},
                                                               "def")
                                                          .dump());
  const ProcessResult compared = runReportTool({"compare", old, changed, "--noise", "10"});
  EXPECT_EQ(compared.status, 0) << compared.err;
  const std::string& text = compared.out;
  // The context's differences come first, then a row per shared combination.
  EXPECT_LT(text.find("git_commit: abc -> def"), text.find("old median")) << text;
  for (const char* row : {"     64      32", "    128      32", "    256      32"}) {
    EXPECT_NE(text.find(row), std::string::npos) << row << "\n" << text;
  }
  EXPECT_NE(text.find("-20.0%"), std::string::npos) << text;
  EXPECT_NE(text.find("faster"), std::string::npos);
  EXPECT_NE(text.find("slower"), std::string::npos);
  EXPECT_NE(text.find("same"), std::string::npos);
  EXPECT_NE(text.find("only in " + changed + ": n 512, block 32"), std::string::npos) << text;
  EXPECT_NE(text.find("geometric mean of new / old median times: "), std::string::npos);

  // A significant slowdown beyond the allowed share is status 4; within it, 0.
  EXPECT_EQ(runReportTool({"compare", old, changed, "--noise", "10", "--fail-above", "10"}).status, 4);
  EXPECT_EQ(runReportTool({"compare", old, changed, "--noise", "10", "--fail-above", "50"}).status, 0);

  const ProcessResult asJson = runReportTool({"compare", old, changed, "--noise", "10", "--format", "json"});
  const json parsed = json::parse(asJson.out, nullptr, false);
  ASSERT_FALSE(parsed.is_discarded()) << asJson.out;
  const json& rows = parsed["comparisons"][0]["rows"];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["verdict"], "faster");
  EXPECT_LT(rows[0]["p_value"].get<double>(), 0.001);
  EXPECT_EQ(rows[2]["verdict"], "same");
  EXPECT_NE(runReportTool({"compare", old, changed, "--noise", "10", "--format", "md"}).out.find("| 64 | 32 |"),
            std::string::npos);

  // The same n, block and seed with other bytes: said loudly, status 3, however the times compare.
  const std::string mismatch =
      files.write("mismatch.json", document({{64, 32, "ff", around(1000)}}).dump());
  const ProcessResult fault = runReportTool({"compare", old, mismatch});
  EXPECT_EQ(fault.status, 3);
  EXPECT_NE(fault.out.find("FINGERPRINTS DIFFER"), std::string::npos) << fault.out;
  EXPECT_NE(fault.err.find("FINGERPRINTS DIFFER"), std::string::npos);
  // Few runs on a side are warned about.
  EXPECT_NE(
      runReportTool({"compare", old,
                     files.write("few.json", document({{64, 32, "f1", around(1000, 3)}}).dump())})
          .out.find("fewer than 9 on a side"),
      std::string::npos);

  // Files that cannot be compared: one line, the usage status.
  const std::string notJson = files.write("broken.json", "{\"context\": ");
  const std::string version1 =
      files.write("v1.json", document({{64, 32, "f1", around(100)}}, "abc", 1).dump());
  const std::string disjoint =
      files.write("other.json", document({{96, 16, "f9", around(100)}}).dump());
  for (const auto& [second, message] : std::vector<std::pair<std::string, std::string>>{
           {notJson, "is not JSON"},
           {version1, "has JSON schema version 1"},
           {disjoint, "no combination of n, block and kernel"},
           {files.path("missing.json"), "cannot read"}}) {
    const ProcessResult bad = runReportTool({"compare", old, second});
    EXPECT_EQ(bad.status, 64) << second;
    EXPECT_EQ(bad.out, "") << second;
    EXPECT_NE(bad.err.find(message), std::string::npos) << bad.err;
  }
  EXPECT_EQ(runReportTool({"compare", old}).status, 64);
}

TEST(CompareTool, MalformedDocumentsAndFilesAreListedNeverFatal) {
  Files files;
  const json good = document({{64, 32, "f1", around(1000)}, {128, 32, "f2", around(2000)}});
  const std::string old = files.write("old.json", good.dump());
  struct Spoiled {
    std::function<void(json&)> spoil;
    const char* expected;
  };
  const std::vector<Spoiled> spoiled = {
      {[](json& d) { d["context"] = 5; }, "\"context\" must be an object"},
      {[](json& d) { d["context"].erase("json_schema_version"); },
       "\"json_schema_version\" is missing"},
      {[](json& d) { d["benchmarks"][0]["n"] = "256"; }, "\"n\" must be a whole number"},
      {[](json& d) { d["benchmarks"][0]["runs"] = "x"; }, "\"runs\" must be an array"},
      {[](json& d) { d["benchmarks"][0]["runs"][0] = 5; }, "runs[0]: must be an object"},
      {[](json& d) { d["benchmarks"][0]["runs"][0]["timed_ns"] = "5"; }, "\"timed_ns\" must be"},
      {[](json& d) { d["benchmarks"][0].erase("runs"); }, "\"runs\" is missing"},
      {[](json& d) { d["benchmarks"][0]["runs"][0].erase("timed_ns"); }, "\"timed_ns\" is missing"},
      {[](json& d) { d["benchmarks"][0].erase("fingerprint"); }, "\"fingerprint\" is missing"},
      {[](json& d) { d["benchmarks"][0].erase("seed"); }, "\"seed\" is missing"},
      {[](json& d) { d["benchmarks"][1]["n"] = 64; }, "appears again after benchmarks[0]"},
  };
  for (std::size_t i = 0; i < spoiled.size(); ++i) {
    json bad = good;
    spoiled[i].spoil(bad);
    const std::string path = files.write("bad" + std::to_string(i) + ".json", bad.dump());
    const ProcessResult result = runReportTool({"compare", old, path});
    EXPECT_EQ(result.status, 64) << spoiled[i].expected << "\n" << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(path + ": "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(spoiled[i].expected), std::string::npos) << result.err;
  }
  // Neither a FIFO without a writer nor an endless device holds the reader; a directory is no
  // document either. Every file's problems are said, not only the first's.
  const std::string fifo = files.path("fifo.json");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const ProcessResult several =
      runReportTool({"compare", old, fifo, "/dev/zero", files.path(""), files.path("none.json")});
  EXPECT_EQ(several.status, 64);
  for (const std::string& named :
       {fifo + " is a FIFO", std::string("/dev/zero is a character device"),
        files.path("") + " is a directory", "cannot read " + files.path("none.json")}) {
    EXPECT_NE(several.err.find(named), std::string::npos) << named << "\n" << several.err;
  }

  // An interrupted document and a combination without runs are compared, and said.
  json partial = good;
  partial["benchmarks"][1]["runs"] = json::array();
  partial["interrupted"] = true;
  const ProcessResult warned =
      runReportTool({"compare", old, files.write("partial.json", partial.dump())});
  EXPECT_EQ(warned.status, 0) << warned.err;
  EXPECT_NE(warned.out.find("(n 128, block 32) has no timed runs and is left out"),
            std::string::npos)
      << warned.out;
  EXPECT_NE(warned.out.find("the sweep was interrupted"), std::string::npos);
  EXPECT_NE(warned.out.find("only in " + old + ": n 128, block 32"), std::string::npos);
}

TEST(CompareTool, TheShiftGivesTheDirectionAndTheGate) {
  Files files;
  // Equal medians (500), but the new runs' tail is slower: 4 x 100 + 7 x 500 against
  // 7 x 500 + 4 x 900.
  std::vector<double> before(4, 100.0), after(7, 500.0);
  before.insert(before.end(), 7, 500.0);
  after.insert(after.end(), 4, 900.0);
  const std::string old = files.write("old.json", document({{64, 32, "f1", before}}).dump());
  const std::string slower = files.write("new.json", document({{64, 32, "f1", after}}).dump());
  const ProcessResult compared = runReportTool({"compare", old, slower, "--noise", "0", "--format", "json"});
  const json rows = json::parse(compared.out, nullptr, false)["comparisons"][0]["rows"];
  ASSERT_EQ(rows.size(), 1u) << compared.out;
  EXPECT_EQ(rows[0]["change"], 0.0);
  EXPECT_GT(rows[0]["shift_ns"].get<double>(), 0);
  EXPECT_EQ(rows[0]["verdict"], "slower");
  EXPECT_EQ(runReportTool({"compare", old, slower, "--noise", "0", "--fail-above", "0"}).status, 4);
  EXPECT_EQ(runReportTool({"compare", old, slower, "--noise", "0", "--fail-above", "1000"}).status, 0);
  EXPECT_EQ(runReportTool({"compare", old, slower, "--noise", "0", "--fail-above", "2.5"}).status, 4);
  for (const char* bad : {"nan", "0x10", "1e2", "-1", "5%", "1000.5", ""}) {
    const ProcessResult refused = runReportTool({"compare", old, slower, "--fail-above", bad});
    EXPECT_EQ(refused.status, 64) << bad;
    EXPECT_EQ(refused.err.find("999999"), std::string::npos) << refused.err;
  }
}

TEST(CompareTool, FewTiedRunsAreJudgedExactlyAndTheGateIsStrictAsPrinted) {
  Files files;
  // One run against six a nanosecond longer: the normal approximation said p = 0.041, slower;
  // the exact test given the ties says 1 / 7.
  const std::string one = files.write("one.json", document({{64, 32, "f1", {25000}}}).dump());
  const std::string six =
      files.write("six.json", document({{64, 32, "f1", std::vector<double>(6, 25001)}}).dump());
  const ProcessResult compared = runReportTool({"compare", one, six, "--format", "json"});
  const json row = json::parse(compared.out, nullptr, false)["comparisons"][0]["rows"][0];
  EXPECT_NEAR(row["p_value"].get<double>(), 1.0 / 7, 1e-12) << compared.out;
  EXPECT_EQ(row["p_exact"], true);
  EXPECT_EQ(row["verdict"], "same");
  EXPECT_EQ(runReportTool({"compare", one, six, "--noise", "0", "--fail-above", "0"}).status, 0);
  const std::string text = runReportTool({"compare", one, six}).out;
  EXPECT_NE(text.find("p-values: exact"), std::string::npos) << text;
  // Three against three can never be significant at 5 %.
  const std::string threeOld =
      files.write("a3.json", document({{64, 32, "f1", std::vector<double>(3, 25000)}}).dump());
  const std::string threeNew =
      files.write("b3.json", document({{64, 32, "f1", std::vector<double>(3, 25001)}}).dump());
  EXPECT_EQ(runReportTool({"compare", threeOld, threeNew, "--noise", "0", "--fail-above", "0"}).status, 0);

  // Exactly +10.0 % (1100 / 1000 - 1 is a hair above 0.1) is not more than 10; 9.9 is.
  const std::string base =
      files.write("base.json", document({{64, 32, "f1", std::vector<double>(9, 1000)}}).dump());
  const std::string plus10 =
      files.write("plus.json", document({{64, 32, "f1", std::vector<double>(9, 1100)}}).dump());
  EXPECT_EQ(runReportTool({"compare", base, plus10, "--noise", "0", "--fail-above", "10"}).status, 0);
  EXPECT_EQ(runReportTool({"compare", base, plus10, "--noise", "0", "--fail-above", "10.0"}).status, 0);
  EXPECT_EQ(runReportTool({"compare", base, plus10, "--noise", "0", "--fail-above", "9.9"}).status, 4);
  // Past the exact range the p-value is marked approximate.
  const std::string manyOld =
      files.write("m1.json", document({{64, 32, "f1", around(1000, 60)}}).dump());
  const std::string manyNew =
      files.write("m2.json", document({{64, 32, "f1", around(1000, 50)}}).dump());
  const ProcessResult many = runReportTool({"compare", manyOld, manyNew, "--format", "json"});
  EXPECT_EQ(json::parse(many.out, nullptr, false)["comparisons"][0]["rows"][0]["p_exact"], false);
  EXPECT_NE(runReportTool({"compare", manyOld, manyNew}).out.find("~ approximate"),
            std::string::npos);
}

TEST(CompareTool, AChangeIsCalledOnlyBeyondTheNoiseBetweenSessions) {
  Files files;
  // Fifteen runs each, every new run 5 % longer: the test is sure, the shift within 10 %.
  const auto runs = [](double centre, double step) {
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) times.push_back(centre + step * i);
    return times;
  };
  const std::string old = files.write("old.json", document({{64, 32, "f1", runs(1000, 1)}}).dump());
  const std::string plus5 =
      files.write("plus5.json", document({{64, 32, "f1", runs(1050, 1)}}).dump());
  const std::string plus15 =
      files.write("plus15.json", document({{64, 32, "f1", runs(1150, 1)}}).dump());
  const std::string plus10 =
      files.write("plus10.json", document({{64, 32, "f1", runs(1100, 1)}}).dump());
  const auto compared = [&](const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"compare"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    all.insert(all.end(), {"--format", "json"});
    return json::parse(runReportTool(all).out, nullptr, false)["comparisons"][0];
  };
  const auto row = [&](const std::vector<std::string>& arguments) {
    return compared(arguments)["rows"][0];
  };
  const json within = row({old, plus5, "--noise", "10"});
  EXPECT_LT(within["p_value"].get<double>(), 0.001);
  EXPECT_EQ(within["verdict"], "same");
  EXPECT_EQ(within["within_noise"], true);
  EXPECT_EQ(row({old, plus5, "--noise", "2"})["verdict"], "slower");
  EXPECT_EQ(row({old, plus15, "--noise", "10"})["verdict"], "slower");
  EXPECT_EQ(row({old, plus15, "--noise", "10"})["within_noise"], false);
  EXPECT_EQ(compared({old, plus15, "--noise", "10"})["noise_floor_percent"], 10);
  // The floor is strict as printed: +10.0 % is not beyond 10.
  EXPECT_EQ(row({old, plus10, "--noise", "10"})["verdict"], "same");
  // The default floor is a measured one, never below 2 %: a 5 % shift is within it.
  EXPECT_GE(compared({old, plus5})["noise_floor_percent"].get<double>(), 2);
  EXPECT_EQ(row({old, plus5})["within_noise"], true);
  const std::string text = runReportTool({"compare", old, plus5}).out;
  EXPECT_NE(text.find("same (within the noise floor)"), std::string::npos) << text;
  EXPECT_NE(text.find("use lubench-report ab"), std::string::npos) << text;

  // A gate below the floor could only trip on noise: refused, saying why, before any file is read.
  const ProcessResult refused = runReportTool(
      {"compare", old, files.path("missing.json"), "--fail-above", "5", "--noise", "10"});
  EXPECT_EQ(refused.status, 64);
  EXPECT_NE(refused.err.find("below the noise floor of 10 %"), std::string::npos) << refused.err;
  EXPECT_EQ(runReportTool({"compare", old, plus5, "--fail-above", "1"}).status, 64);
  EXPECT_EQ(runReportTool({"compare", old, plus5, "--fail-above", "4", "--noise", "2"}).status, 4);
  EXPECT_EQ(runReportTool({"compare", old, plus5, "--fail-above", "10", "--noise", "10"}).status, 0);
  EXPECT_EQ(runReportTool({"compare", old, plus15, "--fail-above", "10", "--noise", "10"}).status, 4);
  for (const char* bad : {"-1", "nan", "1e1", ""}) {
    EXPECT_EQ(runReportTool({"compare", old, plus5, "--noise", bad}).status, 64) << bad;
  }
}

TEST(CompareTool, TheKernelsOfOneOrderAndBlockAreComparedApart) {
  Files files;
  // The same n and block run by the automatic choice and by two asked kernels: k1 got faster,
  // the automatic one did not change (but chose another kernel), k2 is only in the new document.
  const std::string old =
      files.write("old.json", document({{64, 32, "f1", around(1000), "auto", "k0"},
                                        {64, 32, "f1", around(2000), "k1", "k1"}})
                                  .dump());
  const std::string changed =
      files.write("new.json", document({{64, 32, "f1", around(1000), "auto", "k1"},
                                        {64, 32, "f1", around(1500), "k1", "k1"},
                                        {64, 32, "f1", around(900), "k2", "k2"}})
                                  .dump());
  const ProcessResult compared = runReportTool({"compare", old, changed, "--noise", "10", "--format", "json"});
  ASSERT_EQ(compared.status, 0) << compared.err;
  const json c = json::parse(compared.out)["comparisons"][0];
  ASSERT_EQ(c["rows"].size(), 2u) << c.dump();
  EXPECT_EQ(c["rows"][0]["kernel_option"], "auto");
  EXPECT_EQ(c["rows"][0]["verdict"], "same");
  EXPECT_EQ(c["rows"][0]["old_kernel"], "k0");
  EXPECT_EQ(c["rows"][0]["new_kernel"], "k1");
  EXPECT_EQ(c["rows"][1]["kernel_option"], "k1");
  EXPECT_EQ(c["rows"][1]["verdict"], "faster");
  EXPECT_EQ(c["only_in_new"], json::array({"n 64, block 32, kernel k2"}));
  EXPECT_EQ(c["ran_differences"], json::array({"n 64, block 32: ?, k0 -> ?, k1"}));

  // The text shows the kernel column and what ran differently.
  const std::string text = runReportTool({"compare", old, changed}).out;
  EXPECT_NE(text.find("     64      32 k1                 "), std::string::npos) << text;
  EXPECT_NE(text.find("ran on other vector paths or kernels (old -> new):\n  n 64, block 32: ?, "
                      "k0 -> ?, k1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(runReportTool({"compare", old, changed, "--format", "md"}).out.find("| 64 | 32 | k1 |"),
            std::string::npos);
}

}  // namespace
