#include "tools/cli/engine_view.h"

#include <new>
#include <string>

#include "image/print_image.h"

namespace ridgeline::tools {

std::unique_ptr<EngineView> ExtractWithEngine(const Capture& capture) {
  const PrintImage& image = capture.image;
  auto view = std::make_unique<EngineView>();
  view->width = Engine::WorkingSide(image.width);
  view->height = Engine::WorkingSide(image.height);
  const std::unique_ptr<Engine> engine = Engine::Create();
  if (!engine) throw std::bad_alloc();
  AcceptanceImages images;
  const AcceptStatus status =
      engine->Accept(image.pixels, image.width, image.height, &view->sample, &images);
  if (status == AcceptStatus::kOutOfMemory) throw std::bad_alloc();
  if (status == AcceptStatus::kSizeRefused) {
    throw InputError(capture.name + ": " + std::to_string(view->width) + " x " +
                     std::to_string(view->height) + " working pixels: " + AcceptStatusText(status));
  }
  view->shown = std::move(images.working);
  view->binary = std::move(images.binary);
  view->foreground = std::move(images.foreground);
  view->check_passed = !view->shown.null() && status != AcceptStatus::kBadCapture;
  view->extracted = status == AcceptStatus::kAccepted;
  if (!view->sample.features.null()) {
    view->features = view->sample.features.set();
    view->summary = view->sample.features.summary();
  }
  return view;
}

}  // namespace ridgeline::tools
