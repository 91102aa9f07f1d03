// Splitting and masking captured trace text.
#include "tools/wintest/trace_text.h"

#include <regex>

namespace ridgeline::wintest {
namespace {

constexpr char kStampMask[] = "[hh:mm:ss] ";
constexpr size_t kStampLength = 11;  // "[hh:mm:ss] "

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "[hh:mm:ss] " with a 24-hour clock; a leap second may read 60.
bool IsStamp(const std::string& line) {
  if (line.size() < kStampLength) return false;
  const char* s = line.data();
  if (s[0] != '[' || s[3] != ':' || s[6] != ':' || s[9] != ']' || s[10] != ' ') return false;
  for (int i : {1, 2, 4, 5, 7, 8}) {
    if (!IsDigit(s[i])) return false;
  }
  const int hour = (s[1] - '0') * 10 + (s[2] - '0');
  const int minute = (s[4] - '0') * 10 + (s[5] - '0');
  const int second = (s[7] - '0') * 10 + (s[8] - '0');
  return hour < 24 && minute < 60 && second <= 60;
}

}  // namespace

std::string MaskAddresses(const std::string& text) {
  // glibc prints a null "%p" as "(nil)" and others as "0x" and up to 16 hex digits; the
  // mingw-w64 C library prints 16 hex digits without a prefix. Result codes ("0x%x") have at
  // most 8 digits and are left alone.
  static const std::regex kNull(R"(\(nil\)|\b0{16}\b)");
  static const std::regex kPointer(R"(\b0x[0-9a-f]{9,16}\b|\b[0-9a-fA-F]{16}\b)");
  static const std::regex kEnrollmentAddress(R"(enrollment=0x[0-9a-f]+)");
  std::string masked = std::regex_replace(text, kNull, "<null>");
  masked = std::regex_replace(masked, kPointer, "<ptr>");
  return std::regex_replace(masked, kEnrollmentAddress, "enrollment=<address>");
}

std::vector<TraceLine> MaskTrace(const std::string& captured) {
  std::vector<TraceLine> lines;
  size_t start = 0;
  while (start < captured.size()) {
    const size_t newline = captured.find('\n', start);
    const bool ended = newline != std::string::npos;
    std::string raw = captured.substr(start, ended ? newline - start : std::string::npos);
    start = ended ? newline + 1 : captured.size();

    TraceLine line;
    line.ended = ended;
    if (IsStamp(raw)) {
      line.stamped = true;
      line.text = kStampMask + MaskAddresses(raw.substr(kStampLength));
    } else {
      line.bad_stamp = !raw.empty() && raw[0] == '[';
      line.text = MaskAddresses(raw);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace ridgeline::wintest
