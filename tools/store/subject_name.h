// Subject names as people type them and as terminals show them. A name is the key of a subject's
// identity (see SubjectIdentity), so two spellings that look the same must become one name:
// names are trimmed and put in Unicode normal form C before anything else sees them, and names
// that could not be shown safely (control and format characters, unassigned code points) or are
// unreasonably long are refused. Text from a gallery is escaped before it reaches a terminal,
// because a gallery written by an older tool (or by hand) may hold any bytes.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ridgeline::tools {

constexpr size_t kMaxSubjectNameCharacters = 128;

// A name the gallery will not take; the message says why, for people.
class SubjectNameError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The name trimmed of surrounding white space and in NFC. Throws SubjectNameError for an empty
// name, one that is not UTF-8, holds a control, format (other than the joiners), private-use,
// surrogate or unassigned code point or a line separator, or is longer than
// kMaxSubjectNameCharacters code points after normalisation.
std::string NormaliseSubjectName(std::string_view name);

// text with every code point a terminal would not print as itself replaced by an escape:
// invalid UTF-8 bytes as \xNN, control and format code points as \u{XXXX}.
std::string PrintableText(std::string_view text);

// Columns the text takes on a terminal (East Asian wide characters count 2, combining marks 0).
// Invalid bytes count 4, as PrintableText shows them.
size_t DisplayWidth(std::string_view text);

// text followed by spaces up to width columns (nothing added when it is already wider).
std::string PadToWidth(std::string_view text, size_t width);

}  // namespace ridgeline::tools
