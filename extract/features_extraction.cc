// Stand-in until the extraction pipeline lands: reports that no usable features were found.
#include "extract/features_extraction.h"

namespace ridgeline {

int FeaturesExtractionEx(EngineParams*, int32_t, int32_t, GrayImage, int32_t, FeatureSet*,
                         FeatureSummary*, int32_t, int32_t) {
  return 0;
}

}  // namespace ridgeline
