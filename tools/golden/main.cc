// ridgeline-golden DIR: runs every stage the engine has on the recorded inputs of the golden
// vectors under DIR and compares with the recorded outputs, one line per case and stage.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/golden/lib/golden.h"

namespace golden = ridgeline::golden;

namespace {

struct Tally {
  int passed = 0;
  int failed = 0;
  int skipped = 0;

  void Report(const std::string& item, const std::string& routine, const golden::Outcome& o) {
    switch (o.kind) {
      case golden::Outcome::kPass:
        ++passed;
        std::printf("%s %s PASS\n", item.c_str(), routine.c_str());
        break;
      case golden::Outcome::kFail:
        ++failed;
        std::printf("%s %s FAIL %s\n", item.c_str(), routine.c_str(), o.detail.c_str());
        break;
      case golden::Outcome::kSkip:
        ++skipped;
        std::printf("%s %s SKIP%s%s\n", item.c_str(), routine.c_str(), o.detail.empty() ? "" : " ",
                    o.detail.c_str());
        break;
    }
    std::fflush(stdout);
  }
};

golden::Outcome RunGuarded(const std::function<golden::Outcome()>& run) {
  try {
    return run();
  } catch (const std::exception& e) {
    return golden::Outcome::Fail(std::string("error: ") + e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ridgeline-golden DIR\n");
    return 2;
  }
  const golden::fs::path root = argv[1];
  if (!golden::fs::is_directory(root)) {
    std::fprintf(stderr, "ridgeline-golden: %s is not a directory\n", argv[1]);
    return 2;
  }
  Tally tally;

  std::vector<golden::fs::path> cases;
  if (golden::fs::is_directory(root / "cases")) {
    for (const auto& entry : golden::fs::directory_iterator(root / "cases")) {
      if (golden::fs::exists(entry.path() / "manifest.json")) cases.push_back(entry.path());
    }
  }
  std::sort(cases.begin(), cases.end());
  for (const auto& dir : cases) {
    const std::string name = dir.filename().string();
    golden::Json manifest;
    try {
      manifest = golden::ReadJson(dir / "manifest.json");
    } catch (const std::exception& e) {
      tally.Report(name, "manifest", golden::Outcome::Fail(e.what()));
      continue;
    }
    for (const auto& stage : manifest.at("stages")) {
      const std::string routine = stage.value("routine", std::string("?"));
      const golden::StageCheck* check = golden::FindStage(routine);
      if (check == nullptr) {
        if (!stage.at("inputs").empty()) tally.Report(name, routine, golden::Outcome::Skip());
        continue;
      }
      golden::StageContext ctx(dir, manifest, stage);
      tally.Report(name, routine, RunGuarded([&] { return (*check)(ctx); }));
    }
  }

  for (const char* folder : {"matching", "templates"}) {
    if (!golden::fs::is_directory(root / folder)) continue;
    bool any = false;
    for (const auto& suite : golden::Suites()) {
      if (suite.folder != folder) continue;
      any = true;
      std::vector<std::pair<std::string, golden::Outcome>> results;
      try {
        results = suite.check(root / folder);
      } catch (const std::exception& e) {
        results.push_back({folder, golden::Outcome::Fail(std::string("error: ") + e.what())});
      }
      for (const auto& [item, outcome] : results) tally.Report(item, suite.name, outcome);
    }
    if (!any) tally.Report(folder, "(all)", golden::Outcome::Skip());
  }

  std::printf("%d passed, %d failed, %d skipped\n", tally.passed, tally.failed, tally.skipped);
  return tally.failed > 0 ? 1 : 0;
}
