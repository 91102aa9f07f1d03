#include "tools/cli/engine_view.h"

#include <new>

#include "adapter/check_image.h"
#include "adapter/resample_image.h"
#include "extract/engine_params.h"
#include "extract/features_extraction.h"

namespace ridgeline::tools {

std::unique_ptr<EngineView> ExtractWithEngine(const Capture& capture) {
  const PrintImage& image = capture.image;
  auto view = std::make_unique<EngineView>();
  view->width = image.width * kWorkingDpi / 500;
  view->height = image.height * kWorkingDpi / 500;
  OwnedGrey working(AllocGrayImage(view->width, view->height));
  view->shown.reset(AllocGrayImage(view->width, view->height));
  if (!working || !view->shown ||
      !ResampleImage(image.pixels.data(), image.width, image.height, 500, working.get(),
                     view->width, view->height, kWorkingDpi)) {
    throw std::bad_alloc();
  }
  CopyGrayImage(view->width, view->height, working.get(), view->shown.get());
  view->check_passed = CheckImage(working.get(), view->width, view->height);
  if (!view->check_passed) return view;
  if (!AllocFeatureRecords(&view->features, &view->summary)) throw std::bad_alloc();
  EngineParams params{};
  InitEngineParams(&params);
  view->foreground.reset(AllocGrayImage(view->width, view->height));
  if (!view->foreground) throw std::bad_alloc();
  params.ExportMask = 1;
  params.MaskImage = view->foreground.get();
  constexpr int32_t kFullResolution = 100;  // percent
  constexpr int32_t kTemplateBudget = 1024;
  constexpr int32_t kQualityType = 3;
  view->extracted =
      FeaturesExtractionEx(&params, view->width, view->height, working.get(), kFullResolution,
                           view->features, view->summary, kTemplateBudget, kQualityType) != 0;
  view->crop_x = params.CropX;
  view->crop_y = params.CropY;
  view->binary = std::move(working);
  return view;
}

}  // namespace ridgeline::tools
