// Every allocation through operator new in the test binary is counted, so a test can show that
// a stretch of code allocates nothing: read the count before and after.
#pragma once

namespace ridgeline::testing {

// Allocations through the replaceable operator new (plain and array) since the program started;
// -1 when they are not counted (under AddressSanitizer, which owns operator new).
long AllocationCount();

}  // namespace ridgeline::testing
