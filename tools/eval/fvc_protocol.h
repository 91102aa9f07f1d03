// The FVC verification protocol over a folder of prints named <finger>_<impression>.<ext>
// (101_1.tif .. 110_8.tif, or 007_03.png): genuine comparisons are every impression of a finger
// against every later impression of the same finger; impostor comparisons are the first
// impression of each finger against the first impression of every later finger.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ridgeline::eval {

// A folder or file the evaluation cannot use; the message names it and says why.
class EvalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PrintName {
  long finger = 0;
  long impression = 0;
};

// Parses the stem of a file name ("101_3", "007_03"): two runs of decimal digits joined by one
// underscore, each at most 9 digits. Absent for anything else.
std::optional<PrintName> ParsePrintName(const std::string& stem);

struct PrintFile {
  std::filesystem::path path;
  PrintName name;
};

// Image extensions the evaluation looks at (case-insensitive).
bool IsImageExtension(const std::filesystem::path& path);

// The prints of a folder, ordered by finger, then impression. Files with other extensions or
// names that do not parse are skipped. Throws EvalError when the folder cannot be read, holds
// no print, or holds two files for the same finger and impression (101_1.tif and 101_1.png).
std::vector<PrintFile> ListPrintSet(const std::filesystem::path& folder);

struct Comparison {
  int reference;  // index into the print list: the enrolled impression
  int probe;      // index into the print list: the later impression, presented for verification
  bool genuine;
};

// The protocol's comparisons over prints ordered as ListPrintSet orders them: for each finger
// (in order) its genuine pairs in (earlier, later) order, then all impostor pairs, by the
// reference's finger and then the probe's. The enrolled side is always the earlier print.
std::vector<Comparison> FvcComparisons(const std::vector<PrintFile>& prints);

}  // namespace ridgeline::eval
