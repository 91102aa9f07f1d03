// Print names and pair lists; nothing here reads an image.
#include "tools/eval/fvc_protocol.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ridgeline::eval {
namespace {

constexpr size_t kMaxNumberDigits = 9;  // keeps every number within a long on every platform

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= kMaxNumberDigits &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::optional<PrintName> ParsePrintName(const std::string& stem) {
  const size_t underscore = stem.find('_');
  if (underscore == std::string::npos) return std::nullopt;
  const std::string finger = stem.substr(0, underscore);
  const std::string impression = stem.substr(underscore + 1);
  if (!AllDigits(finger) || !AllDigits(impression)) return std::nullopt;
  return PrintName{std::stol(finger), std::stol(impression)};
}

bool IsImageExtension(const std::filesystem::path& path) {
  static constexpr std::array<const char*, 8> kExtensions = {".tif", ".tiff", ".png",  ".pgm",
                                                             ".bmp", ".jpg",  ".jpeg", ".fir"};
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

std::vector<PrintFile> ListPrintSet(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    throw EvalError(folder.string() + ": not a folder of prints");
  }
  std::vector<PrintFile> prints;
  std::filesystem::directory_iterator it(folder, error);
  if (error)
    throw EvalError(folder.string() + ": cannot read the folder (" + error.message() + ")");
  for (const std::filesystem::directory_entry& entry : it) {
    if (!entry.is_regular_file(error) || !IsImageExtension(entry.path())) continue;
    if (auto name = ParsePrintName(entry.path().stem().string())) {
      prints.push_back({entry.path(), *name});
    }
  }
  if (prints.empty()) {
    throw EvalError(folder.string() +
                    ": no prints named <finger>_<impression> (such as 101_1.tif) in the folder");
  }
  std::sort(prints.begin(), prints.end(), [](const PrintFile& a, const PrintFile& b) {
    if (a.name.finger != b.name.finger) return a.name.finger < b.name.finger;
    if (a.name.impression != b.name.impression) return a.name.impression < b.name.impression;
    return a.path < b.path;
  });
  for (size_t i = 1; i < prints.size(); ++i) {
    const PrintName& a = prints[i - 1].name;
    const PrintName& b = prints[i].name;
    if (a.finger == b.finger && a.impression == b.impression) {
      throw EvalError(folder.string() + ": " + prints[i - 1].path.filename().string() + " and " +
                      prints[i].path.filename().string() +
                      " are the same finger and impression; keep one of them");
    }
  }
  return prints;
}

std::vector<Comparison> FvcComparisons(const std::vector<PrintFile>& prints) {
  std::vector<Comparison> comparisons;
  std::vector<int> first_of_finger;  // index of each finger's first impression
  for (size_t begin = 0; begin < prints.size();) {
    size_t end = begin;
    while (end < prints.size() && prints[end].name.finger == prints[begin].name.finger) ++end;
    first_of_finger.push_back(static_cast<int>(begin));
    for (size_t a = begin; a < end; ++a) {
      for (size_t b = a + 1; b < end; ++b) {
        comparisons.push_back({static_cast<int>(a), static_cast<int>(b), true});
      }
    }
    begin = end;
  }
  for (size_t a = 0; a < first_of_finger.size(); ++a) {
    for (size_t b = a + 1; b < first_of_finger.size(); ++b) {
      comparisons.push_back({first_of_finger[a], first_of_finger[b], false});
    }
  }
  return comparisons;
}

}  // namespace ridgeline::eval
