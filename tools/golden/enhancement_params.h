// Engine parameters for the enhancement checkers: the defaults with the fields a stage reads
// taken from the recorded args, so a case recorded with other settings is still checked.
#pragma once

#include <string>

#include "extract/engine_params.h"
#include "tools/golden/lib/golden.h"

namespace ridgeline::golden {

inline EngineParams ParamsFromArgs(const StageContext& ctx) {
  EngineParams params{};
  InitEngineParams(&params);
  const Json& args = ctx.args();
  auto take = [&args](const std::string& name, uint8_t& field) {
    if (args.contains(name)) field = args.at(name).get<uint8_t>();
  };
  take("ContrastThreshold", params.ContrastThreshold);
  take("MaskIsotropyLimit", params.MaskIsotropyLimit);
  take("IsotropyLimit", params.IsotropyLimit);
  take("PixelContrastThreshold", params.PixelContrastThreshold);
  return params;
}

}  // namespace ridgeline::golden
