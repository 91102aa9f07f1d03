// Finger names on the command line and the subfactor (finger position) codes of the framework.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ridgeline::tools {

// "right-thumb" .. "right-little" are 1..5, "left-thumb" .. "left-little" 6..10.
std::optional<uint8_t> FingerFromName(const std::string& name);
// The name of a subfactor; "finger N" for codes without one.
std::string FingerName(uint8_t sub_factor);
// All accepted names, for help texts.
std::string FingerNameList();

}  // namespace ridgeline::tools
