// One command's answer, for people or as JSON. In text mode the command writes its lines to
// stdout and its refusals to stderr as it goes. In JSON mode it fills one object that is printed
// once, when the command finishes, with "command" and "exit_code" added: on stdout when the
// command answered (exit 0 or 1), on stderr when it failed (exit 2, 3 or 4, see ReportError).
#pragma once

#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

namespace ridgeline::tools {

class Reply {
 public:
  Reply(bool json, std::string command) : json_(json), command_(std::move(command)) {}

  bool json() const { return json_; }
  // The command's own fields.
  nlohmann::json& object() { return object_; }
  // Lines for people; swallowed in JSON mode.
  std::ostream& out() { return json_ ? null_ : std::cout; }
  // Why the command refused or found nothing: "ridgeline: ..." on stderr, or the object's
  // "message".
  void Refuse(const std::string& message);
  // What the host did to an input ("resampled ...") and records skipped: "note: ..." or
  // "warning: ..." on stderr, or the object's "notes" and "warnings" arrays.
  void Note(const std::string& text);
  void Warn(const std::string& text);
  // Prints the object in JSON mode and returns exit_code.
  int Finish(int exit_code);

 private:
  bool json_;
  std::string command_;
  nlohmann::json object_ = nlohmann::json::object();
  std::ostream null_{nullptr};
};

// A failure (exit 2, 3 or 4): "ridgeline: message" on stderr, or in JSON mode the error object
// {"command", "exit_code", "error": ExitCodeName(exit_code), "message"} on stderr.
void ReportError(bool json, const std::string& command, int exit_code, const std::string& message);

}  // namespace ridgeline::tools
