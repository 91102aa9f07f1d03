#include "tools/cli/reply.h"

#include "tools/cli/exit_codes.h"

namespace ridgeline::tools {

void Reply::Refuse(const std::string& message) {
  if (json_) {
    object_["message"] = message;
  } else {
    std::cerr << "ridgeline: " << message << "\n";
  }
}

void Reply::Note(const std::string& text) {
  if (json_) {
    object_["notes"].push_back(text);
  } else {
    std::cerr << "note: " << text << "\n";
  }
}

void Reply::Warn(const std::string& text) {
  if (json_) {
    object_["warnings"].push_back(text);
  } else {
    std::cerr << "warning: " << text << "\n";
  }
}

int Reply::Finish(int exit_code) {
  if (json_) {
    nlohmann::json out = {{"command", command_}, {"exit_code", exit_code}};
    out.update(object_);
    // Names and paths may hold bytes that are not UTF-8; they are replaced, never fatal.
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  }
  return exit_code;
}

void ReportError(bool json, const std::string& command, int exit_code, const std::string& message) {
  if (!json) {
    std::cerr << "ridgeline: " << message << "\n";
    return;
  }
  const nlohmann::json out = {{"command", command},
                              {"exit_code", exit_code},
                              {"error", ExitCodeName(exit_code)},
                              {"message", message}};
  std::cerr << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace ridgeline::tools
