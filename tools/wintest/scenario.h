// The test host's run: everything a biometric service does with an engine adapter, from
// loading the library to unloading it, with an in-memory storage adapter. Every step is written
// to a transcript (its result code, the outputs that do not depend on addresses, and the masked
// trace it produced) and checked against what the adapter must do. Two builds of the adapter
// that behave the same produce the same transcript and the same committed template bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ridgeline::wintest {

// The prints of the end-to-end part, as sample record files: two subjects are enrolled (a and
// b), each is then presented again (genuine), and a third finger is presented as an impostor.
struct PrintSet {
  std::vector<uint8_t> enroll_a, genuine_a, enroll_b, genuine_b, impostor;
};

// File names of the prints in a case folder.
extern const char* const kPrintFileNames[5];

struct RunResult {
  std::vector<std::string> transcript;  // the compared lines, in order
  // Committed template blob per print, by its file name without ".bir".
  std::map<std::string, std::vector<uint8_t>> templates;
  std::vector<std::string> deviations;  // failed expectations
};

// Runs the whole host against the library at `library_path`; `prints` null runs every step
// that needs no fingerprint. Writes each line to stdout as it goes.
RunResult RunScenario(const std::string& library_path, const PrintSet* prints);

}  // namespace ridgeline::wintest
