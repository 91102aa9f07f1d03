// The impressions of one enrollment must be of one finger: each is compared, as a probe, with
// the templates the others make, with the engine's own comparison and the decision threshold of
// a match level. A finger enrolled from mixed prints would accept both fingers afterwards and
// refuse the real owner of the other one as a duplicate.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/host/engine_host.h"

namespace ridgeline::tools {

// Empty when every impression matches at least one of the others at level (1..7) (or there is only
// one, or one of them is refused by the engine: the enrollment reports that itself). Otherwise
// names the first impression that disagrees, counting from the second, e.g. "impression 2
// (106_1.tif) does not match impression 1 (score 12, threshold 325)".
std::optional<std::string> CheckImpressionsAgree(const std::vector<Capture>& captures, int level);

}  // namespace ridgeline::tools
