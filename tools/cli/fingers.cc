#include "tools/cli/fingers.h"

#include <array>

namespace ridgeline::tools {
namespace {

constexpr std::array<const char*, 10> kFingerNames = {
    "right-thumb", "right-index", "right-middle", "right-ring", "right-little",
    "left-thumb",  "left-index",  "left-middle",  "left-ring",  "left-little"};

}  // namespace

std::optional<uint8_t> FingerFromName(const std::string& name) {
  for (size_t i = 0; i < kFingerNames.size(); ++i) {
    if (name == kFingerNames[i]) return static_cast<uint8_t>(i + 1);
  }
  return std::nullopt;
}

std::string FingerName(uint8_t sub_factor) {
  if (sub_factor >= 1 && sub_factor <= kFingerNames.size()) return kFingerNames[sub_factor - 1];
  return "finger " + std::to_string(sub_factor);
}

std::string FingerNameList() {
  std::string list;
  for (const char* name : kFingerNames) list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

}  // namespace ridgeline::tools
