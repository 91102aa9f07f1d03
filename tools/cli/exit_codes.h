// The command's exit codes: the one table the help text, the README and the JSON error objects
// are written from. Every failure the tool can meet maps to exactly one row.
#pragma once

#include <stdexcept>
#include <string>

#include "tools/fs/safe_files.h"

namespace ridgeline::tools {

constexpr int kExitSuccess = 0;   // done; verified (match); identified
constexpr int kExitNoMatch = 1;   // no match, nobody identified, refused (duplicate, already
                                  // enrolled), not found (unknown subject or finger)
constexpr int kExitBadInput = 2;  // wrong usage, unreadable or unusable image, bad capture, an
                                  // output file that cannot be written
constexpr int kExitStorage = 3;   // the gallery cannot be opened, read or written, or a stored
                                  // template is damaged
constexpr int kExitEngine = 4;    // the adapter cannot be loaded or failed

// The name of an exit code in JSON error objects: "usage", "input" ... as below.
constexpr const char* ExitCodeName(int code) {
  switch (code) {
    case kExitSuccess:
      return "success";
    case kExitNoMatch:
      return "no_match";
    case kExitBadInput:
      return "bad_input";
    case kExitStorage:
      return "gallery_error";
    case kExitEngine:
      return "adapter_error";
  }
  return "unknown";
}

// The help text's summary of the table above.
constexpr const char* kExitCodeHelp =
    "Exit codes: 0 success or match; 1 no match, nobody identified, refused (duplicate or already\n"
    "enrolled) or not found; 2 bad input or usage (unreadable image, bad capture, an output file\n"
    "that cannot be written); 3 gallery error (missing, foreign or damaged gallery or template);\n"
    "4 the engine adapter could not be loaded or failed.";

// A file the command was asked to write (an overlay, stage maps, synthetic prints) cannot be
// written: OutputError (tools/fs/safe_files.h), exit 2, the message names the file and the reason.

// A command that fails with one of the codes 2..4 and a message for people; main reports it.
class CommandFailure : public std::runtime_error {
 public:
  CommandFailure(int exit_code, const std::string& message)
      : std::runtime_error(message), exit_code_(exit_code) {}
  int exit_code() const { return exit_code_; }

 private:
  int exit_code_;
};

}  // namespace ridgeline::tools
