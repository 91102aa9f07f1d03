// The public C interface: opaque handles over the engine object, one translation of the engine's
// results into rl_status, and no decision of its own.
#include "ridgeline/ridgeline.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "engine/capture_resolution.h"
#include "engine/engine.h"
#include "engine/feature_frame.h"
#include "engine/record_export.h"
#include "image/image_format.h"
#include "image/png_encoder.h"
#include "image/print_image.h"
#include "image/wsq_encoder.h"
#include "platform/secure_zero.h"
#include "template/template_container.h"
#include "template/template_layout.h"

struct rl_engine {
  std::unique_ptr<ridgeline::Engine> engine;
};

struct rl_features {
  ridgeline::FeaturePair features;
  int crop_x = 0;
  int crop_y = 0;
  bool has_input_frame = false;  // false for features decoded from a template
  int ppi = ridgeline::kSensorResolution;
  int input_width = 0;  // the image given to rl_extract (0 without an input frame)
  int input_height = 0;
};

namespace {

using ridgeline::AcceptStatus;

rl_status StatusOf(AcceptStatus status) {
  switch (status) {
    case AcceptStatus::kAccepted:
      return RL_OK;
    case AcceptStatus::kSizeRefused:
      return RL_E_IMAGE_SIZE;
    case AcceptStatus::kBadCapture:
      return RL_E_BAD_CAPTURE;
    case AcceptStatus::kTooFewMinutiae:
      return RL_E_TOO_FEW_MINUTIAE;
    case AcceptStatus::kOutOfMemory:
      return RL_E_OUT_OF_MEMORY;
  }
  return RL_E_INVALID_ARGUMENT;
}

// A point of the features in the frame asked for.
void Place(const rl_features& f, rl_frame frame, int x, int y, int32_t* out_x, int32_t* out_y) {
  if (frame == RL_FRAME_INPUT && f.has_input_frame) {
    *out_x = ridgeline::EngineToInput(x, f.crop_x, 0, f.ppi);
    *out_y = ridgeline::EngineToInput(y, f.crop_y, 0, f.ppi);
  } else {
    *out_x = x;
    *out_y = y;
  }
}

bool ValidFrame(rl_frame frame) { return frame == RL_FRAME_INPUT || frame == RL_FRAME_ENGINE; }

bool RecordFormatOf(rl_record_format format, ridgeline::RecordFormat* out) {
  switch (format) {
    case RL_RECORD_ISO19794_2_2005:
      *out = ridgeline::RecordFormat::kIso19794_2_2005;
      return true;
    case RL_RECORD_ISO19794_2_2011:
      *out = ridgeline::RecordFormat::kIso19794_2_2011;
      return true;
    case RL_RECORD_ANSI378_2004:
      *out = ridgeline::RecordFormat::kAnsi378_2004;
      return true;
    case RL_RECORD_ANSI378_2009:
      *out = ridgeline::RecordFormat::kAnsi378_2009;
      return true;
  }
  return false;
}

// Reads a record as the library's callers get it: leniently, the slips of real writers accepted.
bool ReadRecord(const uint8_t* bytes, size_t size, ridgeline::StandardRecord* record) {
  std::string error;
  return ridgeline::ReadStandardRecord(std::span<const uint8_t>(bytes, size),
                                       ridgeline::RecordReadMode::kLenient, record, &error);
}

using ridgeline::image::PrintImage;

// Reads an image file from memory into *image; the status says why not.
rl_status ReadImage(const uint8_t* bytes, size_t size, PrintImage* image) {
  if (size > ridgeline::image::kMaxImageFileBytes) return RL_E_IMAGE_SIZE;
  try {
    *image = ridgeline::image::DecodePrintImage(std::span<const uint8_t>(bytes, size), "image");
    return RL_OK;
  } catch (const std::bad_alloc&) {
    return RL_E_OUT_OF_MEMORY;
  } catch (const std::exception&) {
    return RL_E_BAD_IMAGE;
  }
}

// A copy in memory the caller releases with rl_image_free; null when none can be had.
uint8_t* CopyOut(const std::vector<uint8_t>& bytes) {
  auto* copy = static_cast<uint8_t*>(std::malloc(std::max<size_t>(bytes.size(), 1)));
  if (copy != nullptr) std::copy(bytes.begin(), bytes.end(), copy);
  return copy;
}

}  // namespace

extern "C" {

const char* rl_version(void) { return RIDGELINE_VERSION; }

int rl_template_format_version(void) { return ridgeline::kTemplateFormatVersion; }

const char* rl_status_message(rl_status status) {
  switch (status) {
    case RL_OK:
      return "success";
    case RL_E_INVALID_ARGUMENT:
      return "invalid argument";
    case RL_E_OUT_OF_MEMORY:
      return "out of memory";
    case RL_E_IMAGE_SIZE:
      return "the image is smaller or larger than the engine takes";
    case RL_E_BAD_CAPTURE:
      return "bad capture: too few grey levels, or one level covers more than 80 % of the image";
    case RL_E_TOO_FEW_MINUTIAE:
      return "bad capture: too few minutiae";
    case RL_E_BAD_TEMPLATE:
      return "not a well-formed template";
    case RL_E_BUFFER_TOO_SMALL:
      return "the output buffer is too small";
    case RL_E_RESOLUTION:
      return "resolution outside 100..5000 pixels per inch";
    case RL_E_BAD_RECORD:
      return "not a readable minutiae record, or no such finger view in it";
    case RL_E_RECORD_CAP:
      return "no record fits within the size cap";
    case RL_E_BAD_IMAGE:
      return "not an image file of a known format, or a damaged one";
  }
  return "unknown status";
}

rl_status rl_engine_create(rl_engine** engine) {
  if (engine == nullptr) return RL_E_INVALID_ARGUMENT;
  *engine = nullptr;
  auto* handle = new (std::nothrow) rl_engine;
  if (handle == nullptr) return RL_E_OUT_OF_MEMORY;
  handle->engine = ridgeline::Engine::Create();
  if (!handle->engine) {
    delete handle;
    return RL_E_OUT_OF_MEMORY;
  }
  *engine = handle;
  return RL_OK;
}

void rl_engine_destroy(rl_engine* engine) { delete engine; }

rl_status rl_extract(rl_engine* engine, const uint8_t* pixels, int32_t width, int32_t height,
                     int32_t stride, int32_t ppi, rl_features** features) {
  if (features != nullptr) *features = nullptr;
  if (engine == nullptr || pixels == nullptr || features == nullptr || width <= 0 || height <= 0 ||
      stride < width) {
    return RL_E_INVALID_ARGUMENT;
  }
  if (ppi < ridgeline::kMinCaptureResolution || ppi > ridgeline::kMaxCaptureResolution) {
    return RL_E_RESOLUTION;
  }
  // The size the capture takes at the sensor's resolution is checked before anything of that
  // size is allocated: a small image declaring a low resolution must not become a huge one.
  const int capture_width = ridgeline::ScaledCaptureSide(width, ppi, ridgeline::kSensorResolution);
  const int capture_height =
      ridgeline::ScaledCaptureSide(height, ppi, ridgeline::kSensorResolution);
  const int working_limit = ridgeline::kMaxImageSide;
  if (ridgeline::Engine::WorkingSide(capture_width) > working_limit ||
      ridgeline::Engine::WorkingSide(capture_height) > working_limit) {
    return RL_E_IMAGE_SIZE;
  }
  try {
    std::vector<uint8_t> capture;
    int w = width;
    int h = height;
    if (ppi != ridgeline::kSensorResolution) {
      ridgeline::ResampleCapture(pixels, width, height, stride, ppi, ridgeline::kSensorResolution,
                                 &capture, &w, &h);
    } else if (stride != width) {
      capture.resize(static_cast<size_t>(width) * height);
      for (int y = 0; y < height; ++y) {
        std::copy_n(pixels + static_cast<size_t>(y) * stride, width,
                    capture.begin() + static_cast<std::ptrdiff_t>(y) * width);
      }
    }
    const std::span<const uint8_t> view =
        capture.empty() ? std::span<const uint8_t>(pixels, static_cast<size_t>(width) * height)
                        : std::span<const uint8_t>(capture);
    ridgeline::AcceptedSample sample;
    const AcceptStatus status = engine->engine->Accept(view, w, h, &sample);
    if (!capture.empty()) SecureZeroMemory(capture.data(), capture.size());
    if (status != AcceptStatus::kAccepted) return StatusOf(status);
    auto* handle = new rl_features;
    handle->features = std::move(sample.features);
    handle->crop_x = sample.crop_x;
    handle->crop_y = sample.crop_y;
    handle->has_input_frame = true;
    handle->ppi = ppi;
    handle->input_width = width;
    handle->input_height = height;
    *features = handle;
    return RL_OK;
  } catch (const std::bad_alloc&) {
    return RL_E_OUT_OF_MEMORY;
  }
}

void rl_features_destroy(rl_features* features) { delete features; }

size_t rl_features_minutia_count(const rl_features* features) {
  return features != nullptr ? static_cast<size_t>(features->features.set()->Count) : 0;
}

size_t rl_features_singular_point_count(const rl_features* features) {
  if (features == nullptr) return 0;
  const int count = features->features.summary()->Count;
  return static_cast<size_t>(std::clamp(count, 0, ridgeline::kSingularCapacity));
}

int32_t rl_features_quality(const rl_features* features) {
  return features != nullptr ? features->features.summary()->Quality : 0;
}

rl_status rl_features_minutiae(const rl_features* features, rl_frame frame, rl_minutia* minutiae,
                               size_t capacity, size_t* count) {
  if (features == nullptr || count == nullptr || !ValidFrame(frame) ||
      (minutiae == nullptr && capacity > 0)) {
    return RL_E_INVALID_ARGUMENT;
  }
  const ridgeline::FeatureSet& set = *features->features.set();
  const size_t available = static_cast<size_t>(set.Count);
  *count = available;
  const size_t copied = std::min(available, capacity);
  for (size_t i = 0; i < copied; ++i) {
    rl_minutia& m = minutiae[i];
    Place(*features, frame, set.X[i], set.Y[i], &m.x, &m.y);
    m.angle = frame == RL_FRAME_INPUT ? ridgeline::StandardAngle(set.Angle[i]) : set.Angle[i];
    m.type = set.Type[i] == 0 ? RL_ENDING : RL_BIFURCATION;
    m.quality = set.Variation[i];
  }
  return copied < available ? RL_E_BUFFER_TOO_SMALL : RL_OK;
}

rl_status rl_features_singular_points(const rl_features* features, rl_frame frame,
                                      rl_singular_point* points, size_t capacity, size_t* count) {
  if (features == nullptr || count == nullptr || !ValidFrame(frame) ||
      (points == nullptr && capacity > 0)) {
    return RL_E_INVALID_ARGUMENT;
  }
  const ridgeline::FeatureSummary& summary = *features->features.summary();
  const size_t available = rl_features_singular_point_count(features);
  *count = available;
  const size_t copied = std::min(available, capacity);
  for (size_t i = 0; i < copied; ++i) {
    rl_singular_point& p = points[i];
    Place(*features, frame, summary.X[i], summary.Y[i], &p.x, &p.y);
    p.direction = summary.Direction[i];
    p.type = static_cast<int8_t>(summary.Type[i]);
  }
  return copied < available ? RL_E_BUFFER_TOO_SMALL : RL_OK;
}

rl_status rl_features_block_map(const rl_features* features, uint8_t* cells, size_t capacity,
                                int32_t* cols, int32_t* rows) {
  if (features == nullptr || cols == nullptr || rows == nullptr ||
      (cells == nullptr && capacity > 0)) {
    return RL_E_INVALID_ARGUMENT;
  }
  const ridgeline::FeatureSet& set = *features->features.set();
  *cols = set.BlockCols;
  *rows = set.BlockRows;
  const size_t needed = static_cast<size_t>(set.BlockCols) * set.BlockRows;
  if (capacity < needed) return RL_E_BUFFER_TOO_SMALL;
  for (int r = 0; r < set.BlockRows; ++r) {
    std::copy_n(set.DirectionMap[r], set.BlockCols, cells + static_cast<size_t>(r) * set.BlockCols);
  }
  return RL_OK;
}

rl_status rl_template_encode(rl_engine* engine, const rl_features* features, uint8_t* buffer,
                             size_t capacity, size_t* size) {
  if (engine == nullptr || features == nullptr || size == nullptr ||
      (buffer == nullptr && capacity > 0)) {
    return RL_E_INVALID_ARGUMENT;
  }
  try {
    ridgeline::EncodedTemplate encoded = engine->engine->EncodeTemplate(features->features);
    *size = encoded.bytes.size();
    if (encoded.bytes.empty()) return RL_E_TOO_FEW_MINUTIAE;
    rl_status status = RL_E_BUFFER_TOO_SMALL;
    if (capacity >= encoded.bytes.size()) {
      std::copy(encoded.bytes.begin(), encoded.bytes.end(), buffer);
      status = RL_OK;
    }
    SecureZeroMemory(encoded.bytes.data(), encoded.bytes.size());
    return status;
  } catch (const std::bad_alloc&) {
    return RL_E_OUT_OF_MEMORY;
  }
}

rl_status rl_template_check(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr) return RL_E_INVALID_ARGUMENT;
  return ridgeline::CheckMinutiaTemplate(std::span<const uint8_t>(bytes, size)) ? RL_OK
                                                                                : RL_E_BAD_TEMPLATE;
}

rl_status rl_template_decode(rl_engine* engine, const uint8_t* bytes, size_t size,
                             rl_features** features) {
  if (features != nullptr) *features = nullptr;
  if (engine == nullptr || bytes == nullptr || features == nullptr) return RL_E_INVALID_ARGUMENT;
  if (rl_template_check(bytes, size) != RL_OK) return RL_E_BAD_TEMPLATE;
  auto* handle = new (std::nothrow) rl_features;
  if (handle == nullptr) return RL_E_OUT_OF_MEMORY;
  if (!engine->engine->DecodeTemplate(std::span<const uint8_t>(bytes, size), &handle->features)) {
    delete handle;
    return RL_E_OUT_OF_MEMORY;  // the structure was checked, so only an allocation can fail
  }
  *features = handle;
  return RL_OK;
}

rl_record_options rl_record_options_default(void) {
  rl_record_options options{};
  options.engine_item = 1;
  return options;
}

rl_status rl_record_export(rl_engine* engine, const rl_features* features, rl_record_format format,
                           const rl_record_options* options, uint8_t* buffer, size_t capacity,
                           size_t* size) {
  if (size != nullptr) *size = 0;
  ridgeline::RecordFormat record_format;
  const rl_record_options chosen = options != nullptr ? *options : rl_record_options_default();
  if (engine == nullptr || features == nullptr || size == nullptr ||
      (buffer == nullptr && capacity > 0) || !RecordFormatOf(format, &record_format) ||
      chosen.finger_position < 0 || chosen.finger_position > 10 || chosen.impression_type < 0 ||
      chosen.impression_type > 255) {
    return RL_E_INVALID_ARGUMENT;
  }
  const ridgeline::FeatureSet& set = *features->features.set();
  if (set.Count <= 0) return RL_E_TOO_FEW_MINUTIAE;
  try {
    // ExportRecord takes a sample: a copy of the features with their crop origin (a deep copy:
    // a feature set owns its minutia arrays).
    ridgeline::AcceptedSample sample;
    sample.features = ridgeline::FeaturePair(/*allocate=*/true);
    if (sample.features.null()) return RL_E_OUT_OF_MEMORY;
    ridgeline::CopyFeatureSet(sample.features.set(), &set);
    *sample.features.summary() = *features->features.summary();
    ridgeline::RecordExportOptions export_options;
    export_options.format = record_format;
    if (features->has_input_frame) {
      sample.crop_x = features->crop_x;
      sample.crop_y = features->crop_y;
      export_options.frame.ppi = features->ppi;
      export_options.input_width = features->input_width;
      export_options.input_height = features->input_height;
    } else {
      export_options.frame.ppi = ridgeline::kSensorResolution;
      export_options.input_width = ridgeline::WorkingToCapture(set.BlockCols * 16);
      export_options.input_height = ridgeline::WorkingToCapture(set.BlockRows * 16);
    }
    export_options.finger_position = static_cast<uint8_t>(chosen.finger_position);
    export_options.impression_type = static_cast<uint8_t>(chosen.impression_type);
    export_options.engine_item = chosen.engine_item != 0;
    export_options.max_bytes = chosen.max_bytes;
    ridgeline::StandardRecord record;
    ridgeline::RecordExportReport report;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!ridgeline::ExportRecord(*engine->engine, sample, export_options, &record, &report,
                                 &error)) {
      return chosen.max_bytes != 0 ? RL_E_RECORD_CAP : RL_E_INVALID_ARGUMENT;
    }
    if (!ridgeline::WriteStandardRecord(record, &bytes, &error)) return RL_E_INVALID_ARGUMENT;
    *size = bytes.size();
    rl_status status = RL_E_BUFFER_TOO_SMALL;
    if (capacity >= bytes.size()) {
      std::copy(bytes.begin(), bytes.end(), buffer);
      status = RL_OK;
    }
    SecureZeroMemory(bytes.data(), bytes.size());
    return status;
  } catch (const std::bad_alloc&) {
    return RL_E_OUT_OF_MEMORY;
  }
}

rl_status rl_record_view_count(const uint8_t* bytes, size_t size, size_t* views) {
  if (views != nullptr) *views = 0;
  if (bytes == nullptr || views == nullptr) return RL_E_INVALID_ARGUMENT;
  try {
    ridgeline::StandardRecord record;
    if (!ReadRecord(bytes, size, &record)) return RL_E_BAD_RECORD;
    *views = record.views.size();
    return RL_OK;
  } catch (const std::bad_alloc&) {
    return RL_E_OUT_OF_MEMORY;
  }
}

rl_status rl_record_import(rl_engine* engine, const uint8_t* bytes, size_t size, size_t view,
                           rl_features** features) {
  if (features != nullptr) *features = nullptr;
  if (engine == nullptr || bytes == nullptr || features == nullptr) return RL_E_INVALID_ARGUMENT;
  try {
    ridgeline::StandardRecord record;
    if (!ReadRecord(bytes, size, &record) || view >= record.views.size()) return RL_E_BAD_RECORD;
    auto handle = std::make_unique<rl_features>();
    bool from_item = false;
    std::string error;
    if (!ridgeline::ImportView(*engine->engine, record.views[view], &handle->features, &from_item,
                               &error)) {
      return handle->features.null() && error == "out of memory" ? RL_E_OUT_OF_MEMORY
                                                                 : RL_E_BAD_RECORD;
    }
    *features = handle.release();
    return RL_OK;
  } catch (const std::bad_alloc&) {
    return RL_E_OUT_OF_MEMORY;
  }
}

rl_status rl_compare(rl_engine* engine, const rl_features* probe, const rl_features* reference,
                     int32_t* score) {
  if (engine == nullptr || probe == nullptr || reference == nullptr || score == nullptr) {
    return RL_E_INVALID_ARGUMENT;
  }
  *score = engine->engine->Compare(*probe->features.set(), *reference->features.set());
  return RL_OK;
}

int32_t rl_threshold(int32_t level) { return ridgeline::Engine::Threshold(level); }

int32_t rl_matches(int32_t score, int32_t level) {
  return ridgeline::Engine::Matches(score, level) ? 1 : 0;
}

rl_status rl_image_decode(const uint8_t* bytes, size_t size, uint8_t** pixels, int32_t* width,
                          int32_t* height, int32_t* ppi) {
  if (pixels != nullptr) *pixels = nullptr;
  if ((bytes == nullptr && size > 0) || pixels == nullptr || width == nullptr ||
      height == nullptr || ppi == nullptr) {
    return RL_E_INVALID_ARGUMENT;
  }
  PrintImage image;
  const rl_status status = ReadImage(bytes, size, &image);
  if (status != RL_OK) return status;
  uint8_t* copy = CopyOut(image.pixels);
  SecureZeroMemory(image.pixels.data(), image.pixels.size());
  if (copy == nullptr) return RL_E_OUT_OF_MEMORY;
  *pixels = copy;
  *width = image.width;
  *height = image.height;
  *ppi = image.declared_dpi;
  return RL_OK;
}

rl_status rl_image_convert(const uint8_t* bytes, size_t size, rl_image_format to, double bitrate,
                           uint8_t** out, size_t* out_size) {
  if (out != nullptr) *out = nullptr;
  if (out_size != nullptr) *out_size = 0;
  if ((bytes == nullptr && size > 0) || out == nullptr || out_size == nullptr ||
      (to != RL_IMAGE_PGM && to != RL_IMAGE_PNG && to != RL_IMAGE_WSQ)) {
    return RL_E_INVALID_ARGUMENT;
  }
  if (to == RL_IMAGE_WSQ && !(bitrate >= ridgeline::image::kMinWsqBitrate &&
                              bitrate <= ridgeline::image::kMaxWsqBitrate)) {
    return RL_E_INVALID_ARGUMENT;
  }
  PrintImage image;
  rl_status status = ReadImage(bytes, size, &image);
  if (status != RL_OK) return status;
  std::vector<uint8_t> file;
  try {
    switch (to) {
      case RL_IMAGE_PGM:
        file = ridgeline::image::EncodePgm(image);
        break;
      case RL_IMAGE_PNG:
        file = ridgeline::image::EncodePng(image.width, image.height, 1, image.pixels);
        break;
      case RL_IMAGE_WSQ:
        file = ridgeline::image::EncodeWsq(image, bitrate,
                                           image.declared_dpi > 0 ? image.declared_dpi : -1);
        break;
    }
  } catch (const std::bad_alloc&) {
    status = RL_E_OUT_OF_MEMORY;
  } catch (const std::exception&) {
    status = RL_E_IMAGE_SIZE;  // the encoders refuse only sizes their format cannot hold
  }
  SecureZeroMemory(image.pixels.data(), image.pixels.size());
  if (status == RL_OK) {
    *out = CopyOut(file);
    if (*out == nullptr) {
      status = RL_E_OUT_OF_MEMORY;
    } else {
      *out_size = file.size();
    }
  }
  if (!file.empty()) SecureZeroMemory(file.data(), file.size());
  return status;
}

void rl_image_free(uint8_t* bytes, size_t size) {
  if (bytes == nullptr) return;
  if (size > 0) SecureZeroMemory(bytes, size);
  std::free(bytes);
}

void rl_wipe(void* memory, size_t size) {
  if (memory != nullptr && size > 0) SecureZeroMemory(memory, size);
}

}  // extern "C"
