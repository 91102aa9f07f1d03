// `ridgeline extract`: the engine's view of one image. The capture is prepared as for every
// other command, brought to the engine's working resolution by the adapter's own resampling,
// checked and extracted with the engine linked in; the result is printed as text or JSON and can
// be drawn over the input image (or the working image with --frame engine). --stages writes what
// the extraction hands out, always in the working image: the working image, the block direction
// field it kept, its foreground mask and the binarised image.
//
// Frames: "input" (the default) gives pixels of the file as given, with the host's trimming and
// resampling undone; "engine" gives pixels of the 550-dpi working image. Origin top left, x to
// the right, y down. Angles are in degrees and the same in both frames (every step scales both
// axes alike): 0 points to -x, 90 to +y (down), 180 to +x, 270 to -y.
//
// JSON output (stable): {"command": "extract", "exit_code", "file", "frame": "input" | "engine",
//    "width", "height" (of the frame's image), "resolution" (its dpi), "quality": 0..100,
//    "boundary_density", "block_grid": {"cols", "rows"},
//    "minutiae": [{"x", "y", "angle", "type": "ending" | "bifurcation", "variation"}],
//    "singular_points": [{"x", "y", "direction", "type" (signed class)}]}
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "tools/cli/commands.h"
#include "tools/cli/engine_view.h"
#include "tools/cli/reply.h"
#include "tools/cli/workbench.h"
#include "tools/fs/safe_files.h"
#include "tools/image/png_writer.h"

namespace ridgeline::tools {
namespace {

struct Rgb {
  uint8_t r, g, b;
};
constexpr Rgb kEndingColour{230, 30, 30};
constexpr Rgb kBifurcationColour{30, 90, 230};
constexpr Rgb kSingularColour{240, 170, 0};

// A picture the user asked for; a failure to write it is the user's output problem (exit 2).
void SavePng(const std::filesystem::path& path, int width, int height, int channels,
             std::span<const uint8_t> pixels) {
  try {
    WritePng(path, width, height, channels, pixels);
  } catch (const std::exception& error) {
    throw OutputError(error.what());
  }
}

// Maps the features' coordinates (working image, relative to the template crop) to the frame
// asked for.
struct Frame {
  bool engine = false;
  int crop_x = 0;
  int crop_y = 0;
  CaptureFrame capture;

  double X(int x) const { return Map(x + crop_x, capture.trim_left); }
  double Y(int y) const { return Map(y + crop_y, capture.trim_top); }

 private:
  // The adapter's resampling takes working pixel i from capture pixel i x 500 / 550.
  double Map(int working, int trim) const {
    if (engine) return working;
    return (working * 500.0 / kWorkingDpi + trim) * capture.file_per_capture;
  }
};

class Canvas {
 public:
  Canvas(const uint8_t* const* grey, int width, int height)
      : width_(width), height_(height), rgb_(static_cast<size_t>(width) * height * 3) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) rgb_[(static_cast<size_t>(y) * width + x) * 3 + c] = grey[y][x];
  }
  explicit Canvas(const PrintImage& image)
      : width_(image.width), height_(image.height), rgb_(image.pixels.size() * 3) {
    for (size_t i = 0; i < image.pixels.size(); ++i) {
      rgb_[i * 3] = rgb_[i * 3 + 1] = rgb_[i * 3 + 2] = image.pixels[i];
    }
  }
  void Dot(int x, int y, Rgb colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    uint8_t* p = &rgb_[(static_cast<size_t>(y) * width_ + x) * 3];
    p[0] = colour.r, p[1] = colour.g, p[2] = colour.b;
  }
  void Line(double x0, double y0, double x1, double y1, Rgb colour) {
    const int steps = static_cast<int>(std::max(std::abs(x1 - x0), std::abs(y1 - y0))) + 1;
    for (int i = 0; i <= steps; ++i) {
      Dot(static_cast<int>(std::lround(x0 + (x1 - x0) * i / steps)),
          static_cast<int>(std::lround(y0 + (y1 - y0) * i / steps)), colour);
    }
  }
  void Circle(int cx, int cy, int radius, Rgb colour) {
    for (int a = 0; a < 360; a += 4) {
      Dot(cx + static_cast<int>(std::lround(radius * std::cos(a * M_PI / 180))),
          cy + static_cast<int>(std::lround(radius * std::sin(a * M_PI / 180))), colour);
    }
  }
  void Square(int cx, int cy, int half, Rgb colour) {
    Line(cx - half, cy - half, cx + half, cy - half, colour);
    Line(cx + half, cy - half, cx + half, cy + half, colour);
    Line(cx + half, cy + half, cx - half, cy + half, colour);
    Line(cx - half, cy + half, cx - half, cy - half, colour);
  }
  void Diamond(int cx, int cy, int half, Rgb colour) {
    Line(cx, cy - half, cx + half, cy, colour);
    Line(cx + half, cy, cx, cy + half, colour);
    Line(cx, cy + half, cx - half, cy, colour);
    Line(cx - half, cy, cx, cy - half, colour);
  }
  void Save(const std::filesystem::path& path) const { SavePng(path, width_, height_, 3, rgb_); }

 private:
  int width_;
  int height_;
  std::vector<uint8_t> rgb_;
};

// Minutiae as endings (circles) and bifurcations (squares) with a tick along their direction,
// singular points as diamonds.
void DrawFeatures(Canvas& canvas, const FeatureSet& features, const FeatureSummary& summary,
                  const Frame& frame) {
  constexpr double kTick = 12;
  for (int i = 0; i < features.Count; ++i) {
    const int x = static_cast<int>(std::lround(frame.X(features.X[i])));
    const int y = static_cast<int>(std::lround(frame.Y(features.Y[i])));
    const double a = features.Angle[i] * M_PI / 180;
    const Rgb colour = features.Type[i] == 0 ? kEndingColour : kBifurcationColour;
    if (features.Type[i] == 0) {
      canvas.Circle(x, y, 4, colour);
    } else {
      canvas.Square(x, y, 4, colour);
    }
    canvas.Line(x, y, x - kTick * std::cos(a), y + kTick * std::sin(a), colour);
  }
  for (int i = 0; i < summary.Count && i < kSingularCapacity; ++i) {
    const int x = static_cast<int>(std::lround(frame.X(summary.X[i])));
    const int y = static_cast<int>(std::lround(frame.Y(summary.Y[i])));
    canvas.Diamond(x, y, 7, kSingularColour);
    canvas.Diamond(x, y, 8, kSingularColour);
  }
}

}  // namespace

int RunExtract(const CommonOptions& options, const std::filesystem::path& path,
               const ExtractOptions& extract) {
  Reply reply(options.json, "extract");
  const Capture capture = PrepareWithNotes(path, options.capture, reply);
  const std::unique_ptr<EngineView> view = ExtractWithEngine(capture);
  const int width = view->width;
  const int height = view->height;
  const std::filesystem::path& stages = extract.stages;
  if (!stages.empty()) PrepareOutputFolder(stages);
  if (!stages.empty() && !view->shown.null()) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y) {
      pixels.insert(pixels.end(), view->shown.get()[y], view->shown.get()[y] + width);
    }
    SavePng(stages / "input.png", width, height, 1, pixels);
  }
  if (!view->check_passed) {
    throw CommandFailure(kExitBadInput,
                         capture.name +
                             ": bad capture: too few grey levels, or one level covers over 80 % "
                             "of the image (try without --no-trim)");
  }
  if (!view->extracted) {
    throw CommandFailure(kExitBadInput,
                         capture.name +
                             ": no usable fingerprint found (too few minutiae on usable ridge "
                             "area)");
  }
  const FeatureSet& features = *view->features;
  const FeatureSummary& summary = *view->summary;
  Frame frame{extract.engine_frame, view->sample.crop_x, view->sample.crop_y, capture.frame};
  Frame engine_frame = frame;
  engine_frame.engine = true;

  if (!stages.empty()) {
    // The block direction field the extraction kept: one segment per defined block.
    Canvas field(view->shown.get(), width, height);
    for (int by = 0; by < features.BlockRows; ++by) {
      for (int bx = 0; bx < features.BlockCols; ++bx) {
        const int code = features.DirectionMap[by][bx];
        if (code >= 120) continue;  // undefined or background
        const double a = code * 1.5 * M_PI / 180;
        const double cx = engine_frame.X(bx * 16 + 8), cy = engine_frame.Y(by * 16 + 8);
        field.Line(cx - 6 * std::cos(a), cy - 6 * std::sin(a), cx + 6 * std::cos(a),
                   cy + 6 * std::sin(a), kBifurcationColour);
      }
    }
    field.Save(stages / "direction_field.png");
    auto save_grey = [&](const uint8_t* const* rows, const char* name) {
      std::vector<uint8_t> pixels;
      for (int y = 0; y < height; ++y) pixels.insert(pixels.end(), rows[y], rows[y] + width);
      SavePng(stages / name, width, height, 1, pixels);
    };
    save_grey(view->foreground.get(), "foreground.png");
    if (!view->binary.null()) save_grey(view->binary.get(), "binary.png");
  }
  // The frame's own image: the file as given, or the working image.
  int frame_width = width;
  int frame_height = height;
  int frame_dpi = kWorkingDpi;
  std::optional<PrintImage> input;
  if (!extract.engine_frame) {
    input = ReadPrintImage(path);
    frame_width = input->width;
    frame_height = input->height;
    frame_dpi = static_cast<int>(std::lround(500 * capture.frame.file_per_capture));
  }
  if (!extract.overlay.empty()) {
    Canvas canvas = input ? Canvas(*input) : Canvas(view->shown.get(), width, height);
    DrawFeatures(canvas, features, summary, frame);
    canvas.Save(extract.overlay);
  }

  auto at = [](double v) { return static_cast<int>(std::lround(v)); };
  nlohmann::json minutiae = nlohmann::json::array();
  for (int i = 0; i < features.Count; ++i) {
    minutiae.push_back({{"x", at(frame.X(features.X[i]))},
                        {"y", at(frame.Y(features.Y[i]))},
                        {"angle", features.Angle[i]},
                        {"type", features.Type[i] == 0 ? "ending" : "bifurcation"},
                        {"variation", features.Variation[i]}});
  }
  nlohmann::json singular = nlohmann::json::array();
  for (int i = 0; i < summary.Count && i < kSingularCapacity; ++i) {
    singular.push_back({{"x", at(frame.X(summary.X[i]))},
                        {"y", at(frame.Y(summary.Y[i]))},
                        {"direction", summary.Direction[i]},
                        {"type", static_cast<int8_t>(summary.Type[i])}});
  }
  reply.object() = {{"file", capture.name},
                    {"frame", extract.engine_frame ? "engine" : "input"},
                    {"width", frame_width},
                    {"height", frame_height},
                    {"resolution", frame_dpi},
                    {"quality", summary.Quality},
                    {"boundary_density", summary.BoundaryDensity},
                    {"block_grid", {{"cols", features.BlockCols}, {"rows", features.BlockRows}}},
                    {"minutiae", minutiae},
                    {"singular_points", singular}};
  int endings = 0;
  for (int i = 0; i < features.Count; ++i) endings += features.Type[i] == 0;
  reply.out() << capture.name << ": " << features.Count << " minutiae (" << endings << " endings, "
              << features.Count - endings << " bifurcations), " << summary.Count
              << " singular points, quality " << int{summary.Quality} << "; working image " << width
              << " x " << height << " at 550 dpi\n";
  return reply.Finish(kExitSuccess);
}

}  // namespace ridgeline::tools
