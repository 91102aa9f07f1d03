// Making the adapter's captured trace comparable between two builds. What legitimately differs
// between processes is masked: the time stamp ("[hh:mm:ss] ", checked for its form first) and
// addresses (pointers as "%p" prints them on either C library, and the enrollment record's
// address that the status trace prints as 32-bit hex). Everything else, result codes, sizes
// and counts included, is kept as written.
#pragma once

#include <string>
#include <vector>

namespace ridgeline::wintest {

struct TraceLine {
  std::string text;        // masked, without the newline
  bool stamped = false;    // began with a well-formed "[hh:mm:ss] " stamp
  bool bad_stamp = false;  // began with '[' but not with a valid stamp
  bool ended = true;       // false for a trailing piece without its newline
};

// Splits captured debugger output into lines and masks each one.
std::vector<TraceLine> MaskTrace(const std::string& captured);

// Masks the addresses in one line of trace text (no stamp handling).
std::string MaskAddresses(const std::string& text);

}  // namespace ridgeline::wintest
