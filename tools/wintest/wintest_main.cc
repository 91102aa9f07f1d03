// ridgeline-wintest: loads an engine adapter library as the biometric service would, runs it
// through its interface with an in-memory storage adapter and checks every step.
//
//   ridgeline-wintest LIBRARY [CASE_DIR] [--record]
//
// CASE_DIR holds the sample records of the end-to-end part (see kPrintFileNames); without it
// only the steps that need no fingerprint run. With --record the run's transcript and
// committed templates are written to CASE_DIR as the reference; without it, a reference found
// there is compared with this run line by line and byte by byte. Exit status: 0 when every
// check passed and the run equals the reference, 1 on any deviation, 2 on bad usage or files.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/wintest/bir_record.h"
#include "tools/wintest/scenario.h"

namespace {

using ridgeline::wintest::kPrintFileNames;
using ridgeline::wintest::PrintSet;
using ridgeline::wintest::ReadFileBytes;
using ridgeline::wintest::RunResult;
using ridgeline::wintest::WriteFileBytes;

constexpr char kReferenceName[] = "reference.txt";
constexpr size_t kShownDifferences = 10;

std::string InCase(const std::string& dir, const std::string& name) { return dir + "/" + name; }

// The name of a print's sample record file without ".bir".
std::string PrintName(const char* file_name) {
  const std::string name = file_name;
  return name.substr(0, name.size() - 4);
}

std::string TemplateName(const std::string& print) { return "template_" + print + ".bin"; }

bool ReadPrints(const std::string& dir, PrintSet* prints) {
  std::vector<uint8_t>* targets[] = {&prints->enroll_a, &prints->genuine_a, &prints->enroll_b,
                                     &prints->genuine_b, &prints->impostor};
  for (size_t i = 0; i < std::size(targets); ++i) {
    if (!ReadFileBytes(InCase(dir, kPrintFileNames[i]), targets[i])) {
      std::fprintf(stderr, "ridgeline-wintest: cannot read %s\n",
                   InCase(dir, kPrintFileNames[i]).c_str());
      return false;
    }
  }
  return true;
}

bool WriteReference(const std::string& dir, const RunResult& run) {
  std::string text;
  for (const std::string& line : run.transcript) text += line + "\n";
  bool ok = WriteFileBytes(InCase(dir, kReferenceName),
                           {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  for (const char* file_name : kPrintFileNames) {
    const std::string print = PrintName(file_name);
    const std::string path = InCase(dir, TemplateName(print));
    const auto found = run.templates.find(print);
    if (found != run.templates.end()) {
      ok = WriteFileBytes(path, found->second) && ok;
    } else {
      std::remove(path.c_str());
    }
  }
  return ok;
}

// Compares the run with the reference in dir; prints every difference and returns their count.
int CompareWithReference(const std::string& dir, const RunResult& run) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(InCase(dir, kReferenceName), &bytes)) {
    std::printf("compare: no reference in %s\n", dir.c_str());
    return 1;
  }
  std::vector<std::string> reference;
  std::string line;
  for (const uint8_t byte : bytes) {
    if (byte == '\n') {
      reference.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(byte);
    }
  }

  int differences = 0;
  const size_t lines = std::max(reference.size(), run.transcript.size());
  for (size_t i = 0; i < lines; ++i) {
    const char* want = i < reference.size() ? reference[i].c_str() : "(end of reference)";
    const char* got = i < run.transcript.size() ? run.transcript[i].c_str() : "(end of run)";
    if (std::strcmp(want, got) == 0) continue;
    if (++differences <= static_cast<int>(kShownDifferences)) {
      std::printf("DIFFERENCE at transcript line %zu:\n  reference: %s\n  this run:  %s\n", i + 1,
                  want, got);
    }
  }

  if (differences == 0) {
    std::printf("transcript: %zu lines, identical to the reference\n", reference.size());
  }
  for (const char* file_name : kPrintFileNames) {
    const std::string print = PrintName(file_name);
    std::vector<uint8_t> want;
    const bool have_want = ReadFileBytes(InCase(dir, TemplateName(print)), &want);
    const auto got = run.templates.find(print);
    const bool have_got = got != run.templates.end();
    if (!have_want && !have_got) continue;
    if (have_want != have_got) {
      ++differences;
      std::printf("DIFFERENCE: committed template of %s %s\n", print.c_str(),
                  have_want ? "missing in this run" : "not in the reference");
      continue;
    }
    size_t first = 0;
    while (first < want.size() && first < got->second.size() && want[first] == got->second[first]) {
      ++first;
    }
    if (first == want.size() && first == got->second.size()) {
      std::printf("committed template of %s: %zu bytes, identical to the reference\n",
                  print.c_str(), want.size());
      continue;
    }
    ++differences;
    std::printf(
        "DIFFERENCE: committed template of %s: %zu bytes, reference %zu bytes, first difference "
        "at byte %zu\n",
        print.c_str(), got->second.size(), want.size(), first);
  }
  return differences;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool record = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--record") == 0) {
      record = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.empty() || args.size() > 2 || (record && args.size() != 2)) {
    std::fprintf(stderr, "usage: ridgeline-wintest LIBRARY [CASE_DIR] [--record]\n");
    return 2;
  }
#ifdef _WIN32
  // Plain newlines, so that a transcript printed under Windows reads the same as a Linux one;
  // unbuffered, as that C library has no line buffering and a crash must not swallow lines.
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif

  PrintSet prints;
  const bool have_case = args.size() == 2;
  if (have_case && !ReadPrints(args[1], &prints)) return 2;

  const RunResult run = ridgeline::wintest::RunScenario(args[0], have_case ? &prints : nullptr);

  int failures = static_cast<int>(run.deviations.size());
  if (have_case && record) {
    if (!WriteReference(args[1], run)) {
      std::fprintf(stderr, "ridgeline-wintest: cannot write the reference to %s\n",
                   args[1].c_str());
      return 2;
    }
    std::printf("reference written to %s\n", args[1].c_str());
  } else if (have_case) {
    failures += CompareWithReference(args[1], run);
  }

  std::printf("ridgeline-wintest: %zu transcript lines, %zu committed templates, %d deviations\n",
              run.transcript.size(), run.templates.size(), failures);
  std::printf("%s\n", failures == 0 ? "PASSED" : "FAILED");
  return failures == 0 ? 0 : 1;
}
