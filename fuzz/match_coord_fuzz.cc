// Fuzzes the matcher on stored templates: two MinutiaTemplates taken from the input, each kept
// only when it passes the container's structural check, decoded and compared both ways, again
// with the probe tables reused, and with the probe turned by 180 degrees. Stored templates
// are outside bytes, so whatever passes the check must be matched without reading or writing
// outside the work area, and every score must stay within 0..9999.
//
// Input: a 16-bit little-endian length L, L bytes of the probe's record, then the reference's.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/constants.h"
#include "core/records.h"
#include "match/match_coord.h"
#include "match/match_params.h"
#include "match/match_result.h"
#include "match/match_work.h"
#include "template/template_container.h"
#include "template/template_decode.h"

namespace {

using namespace ridgeline;

constexpr int kWorkMinutiae = 250;
constexpr int kWorkGridSide = 64;
// Pair voting grows with the product of the pair counts; above this product of minutia counts
// one input takes seconds under the sanitizers. Either side alone may still reach 250.
constexpr int kMaxMinutiaProduct = 2500;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

MatchWork* Work() {
  static MatchWork* work = [] {
    MatchParams params;
    InitMatchParams(&params);
    MatchWork* w = BuildMatchWork(kWorkMinutiae, kWorkGridSide, kWorkGridSide, kWorkMinutiae,
                                  kWorkGridSide, kWorkGridSide, params);
    if (w == nullptr) std::abort();
    return w;
  }();
  return work;
}

// Owns a FeatureSet / FeatureSummary pair of full capacity.
struct Features {
  Features() {
    if (!AllocFeatureRecords(&set, &summary)) std::abort();
  }
  ~Features() { FreeFeatureRecords(set, summary); }
  Features(const Features&) = delete;
  Features& operator=(const Features&) = delete;
  FeatureSet* set = nullptr;
  FeatureSummary* summary = nullptr;
};

// Decodes bytes into features when they pass the structural check. The bytes are copied to an
// exact heap block first, so that a read one byte past the record is caught.
bool DecodeChecked(const uint8_t* data, size_t size, Features* out) {
  auto* record = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (record == nullptr) return false;
  if (size > 0) std::memcpy(record, data, size);
  const std::span<const uint8_t> bytes(record, size);
  const bool valid = CheckMinutiaTemplate(bytes);
  if (valid) DecodeTemplate(out->set, out->summary, bytes);
  std::free(record);
  return valid;
}

int Match(const FeatureSet& probe, const FeatureSet& reference, bool rebuildA = true) {
  MatchResult result{};
  const int score = MatchCoord(probe, reference, Work(), &result, rebuildA);
  Require(score >= 0 && score <= 9999);
  return score;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t first = std::min<size_t>(data[0] | (data[1] << 8), size - 2);
  Features a;
  Features b;
  if (!DecodeChecked(data + 2, first, &a)) return 0;
  if (!DecodeChecked(data + 2 + first, size - 2 - first, &b)) return 0;
  if (a.set->Count * b.set->Count > kMaxMinutiaProduct) return 0;

  const int ab = Match(*a.set, *b.set);
  Require(Match(*a.set, *b.set, /*rebuildA=*/false) == ab);
  Match(*b.set, *a.set);

  Features turned;
  RotateFeatureSet180(turned.set, *a.set);
  Match(*turned.set, *b.set);
  return 0;
}
