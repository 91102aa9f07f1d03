// The command's exit codes, as documented in its help text and the README.
#pragma once

namespace ridgeline::tools {

constexpr int kExitSuccess = 0;   // done; verified; identified
constexpr int kExitNoMatch = 1;   // no match, unknown identity, duplicate refused, nothing found
constexpr int kExitBadInput = 2;  // bad image, bad capture, wrong usage
constexpr int kExitStorage = 3;   // the gallery cannot be opened, read or written
constexpr int kExitEngine = 4;    // the adapter cannot be loaded or failed unexpectedly

}  // namespace ridgeline::tools
