// The golden-vector runner's framework: reading the recorded PGM images and JSON records,
// comparing results with them, and the registry through which each stage's checker announces
// itself. Checkers live one file per stage beside the runner's main.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/records.h"

namespace ridgeline::golden {

using Json = nlohmann::json;
namespace fs = std::filesystem;

// A binary PGM (P5, maxval 255) held as one block of width x height bytes.
struct Pgm {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// Throws std::runtime_error on a missing or malformed file.
Pgm ReadPgm(const fs::path& path);
void WritePgm(const fs::path& path, const Pgm& pgm);
Json ReadJson(const fs::path& path);

// Owns a GrayImage built from (or turned back into) a Pgm.
class OwnedImage {
 public:
  OwnedImage(int width, int height);
  explicit OwnedImage(const Pgm& pgm);
  ~OwnedImage();
  OwnedImage(const OwnedImage&) = delete;
  OwnedImage& operator=(const OwnedImage&) = delete;

  GrayImage get() const { return image_; }
  int width() const { return width_; }
  int height() const { return height_; }
  Pgm ToPgm() const;

 private:
  int width_;
  int height_;
  GrayImage image_;
};

// Empty when equal; otherwise the first difference ("pixel (x, y): got 3, want 4" or a size).
std::string ComparePgm(const Pgm& got, const Pgm& want);
// Empty when equal; otherwise the first differing field path with both values.
std::string CompareJson(const Json& got, const Json& want, const std::string& path = "");

struct Outcome {
  enum Kind { kPass, kFail, kSkip } kind = kPass;
  std::string detail;
  static Outcome Pass() { return {kPass, ""}; }
  static Outcome Fail(std::string why) { return {kFail, std::move(why)}; }
  static Outcome Skip(std::string why = "") { return {kSkip, std::move(why)}; }
  // Pass when diff is empty, else Fail with it.
  static Outcome FromDiff(std::string diff) {
    return diff.empty() ? Pass() : Fail(std::move(diff));
  }
};

// One recorded stage of one case folder.
class StageContext {
 public:
  StageContext(fs::path dir, const Json& manifest, const Json& stage)
      : dir_(std::move(dir)), manifest_(manifest), stage_(stage) {}

  const fs::path& dir() const { return dir_; }
  const Json& manifest() const { return manifest_; }
  const Json& stage() const { return stage_; }
  const Json& args() const { return stage_.at("args"); }
  int Arg(const std::string& name) const { return stage_.at("args").at(name).get<int>(); }
  fs::path InputPath(const std::string& role) const;
  fs::path OutputPath(const std::string& role) const;
  Pgm InputPgm(const std::string& role) const { return ReadPgm(InputPath(role)); }
  Pgm OutputPgm(const std::string& role) const { return ReadPgm(OutputPath(role)); }
  Json InputJson(const std::string& role) const { return ReadJson(InputPath(role)); }
  Json OutputJson(const std::string& role) const { return ReadJson(OutputPath(role)); }

 private:
  fs::path dir_;
  const Json& manifest_;
  const Json& stage_;
};

using StageCheck = std::function<Outcome(const StageContext&)>;
// A suite checks one of the non-case folders (matching/, templates/) and reports one line
// per item it checked.
using SuiteCheck =
    std::function<std::vector<std::pair<std::string, Outcome>>(const fs::path& root)>;

// Registers the checker of the case stages whose "routine" is exactly this text.
struct StageRegistrar {
  StageRegistrar(const std::string& routine, StageCheck check);
};
// Registers a checker of the folder `root / folder`.
struct SuiteRegistrar {
  SuiteRegistrar(const std::string& folder, const std::string& name, SuiteCheck check);
};

const StageCheck* FindStage(const std::string& routine);
struct Suite {
  std::string folder;
  std::string name;
  SuiteCheck check;
};
const std::vector<Suite>& Suites();

}  // namespace ridgeline::golden
