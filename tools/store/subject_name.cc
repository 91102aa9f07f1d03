#include "tools/store/subject_name.h"

#include <utf8proc.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace ridgeline::tools {
namespace {

constexpr int32_t kZeroWidthNonJoiner = 0x200C;
constexpr int32_t kZeroWidthJoiner = 0x200D;

// Decodes one code point at text[pos]; returns the bytes it took, or a negative value for an
// invalid sequence.
utf8proc_ssize_t Decode(std::string_view text, size_t pos, int32_t* code_point) {
  return utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + pos),
                          static_cast<utf8proc_ssize_t>(text.size() - pos), code_point);
}

// Code points that either change what the terminal does (controls, bidi overrides) or cannot be
// told apart on screen (unassigned, private use). The joiners stay: emoji and some scripts need
// them.
bool Unprintable(int32_t code_point) {
  switch (utf8proc_category(code_point)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return true;
    case UTF8PROC_CATEGORY_CF:
      return code_point != kZeroWidthNonJoiner && code_point != kZeroWidthJoiner;
    default:
      return false;
  }
}

bool TrimmedSpace(int32_t code_point) {
  return code_point == '\t' || code_point == '\n' || code_point == '\r' || code_point == '\v' ||
         code_point == '\f' || utf8proc_category(code_point) == UTF8PROC_CATEGORY_ZS;
}

std::string Hex(int32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string NormaliseSubjectName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) {
    throw SubjectNameError("the subject name contains a NUL byte");
  }
  // Find the first and last code points that are not white space; refuse bad UTF-8 on the way.
  size_t begin = name.size();
  size_t end = 0;
  for (size_t pos = 0; pos < name.size();) {
    int32_t code_point = 0;
    const utf8proc_ssize_t length = Decode(name, pos, &code_point);
    if (length <= 0) {
      throw SubjectNameError("the subject name is not valid UTF-8 (byte " +
                             std::to_string(pos + 1) + ")");
    }
    if (!TrimmedSpace(code_point)) {
      begin = std::min(begin, pos);
      end = pos + static_cast<size_t>(length);
    }
    pos += static_cast<size_t>(length);
  }
  if (begin >= end) throw SubjectNameError("the subject name is empty");
  const std::string trimmed(name.substr(begin, end - begin));

  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> normal(
      utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(trimmed.c_str())), &std::free);
  if (normal == nullptr) throw SubjectNameError("the subject name cannot be normalised");
  std::string result(reinterpret_cast<const char*>(normal.get()));

  size_t characters = 0;
  for (size_t pos = 0; pos < result.size(); ++characters) {
    int32_t code_point = 0;
    const utf8proc_ssize_t length = Decode(result, pos, &code_point);
    if (length <= 0) throw SubjectNameError("the subject name is not valid UTF-8");
    if (Unprintable(code_point)) {
      throw SubjectNameError("the subject name contains an unprintable character (U+" +
                             Hex(code_point, 4) + "); use letters, digits and punctuation");
    }
    pos += static_cast<size_t>(length);
  }
  if (characters > kMaxSubjectNameCharacters) {
    throw SubjectNameError("the subject name is " + std::to_string(characters) +
                           " characters long; at most " +
                           std::to_string(kMaxSubjectNameCharacters) + " are allowed");
  }
  return result;
}

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    int32_t code_point = 0;
    const utf8proc_ssize_t length = Decode(text, pos, &code_point);
    if (length <= 0) {
      out += "\\x" + Hex(static_cast<uint8_t>(text[pos]), 2);
      ++pos;
      continue;
    }
    if (Unprintable(code_point)) {
      out += "\\u{" + Hex(code_point, 4) + "}";
    } else {
      out.append(text.substr(pos, static_cast<size_t>(length)));
    }
    pos += static_cast<size_t>(length);
  }
  return out;
}

size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t pos = 0; pos < text.size();) {
    int32_t code_point = 0;
    const utf8proc_ssize_t length = Decode(text, pos, &code_point);
    if (length <= 0) {
      width += 4;
      ++pos;
      continue;
    }
    width += static_cast<size_t>(std::max(0, utf8proc_charwidth(code_point)));
    pos += static_cast<size_t>(length);
  }
  return width;
}

std::string PadToWidth(std::string_view text, size_t width) {
  std::string out(text);
  const size_t have = DisplayWidth(text);
  if (have < width) out.append(width - have, ' ');
  return out;
}

}  // namespace ridgeline::tools
