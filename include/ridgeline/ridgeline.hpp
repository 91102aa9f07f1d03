// Ridgeline for C++: RAII handles and std::span over the C interface in ridgeline.h. Errors are
// thrown as ridgeline::Error carrying the rl_status and its message.
#ifndef RIDGELINE_RIDGELINE_HPP_
#define RIDGELINE_RIDGELINE_HPP_

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include "ridgeline/ridgeline.h"

namespace ridgeline {
// The wrapper's names carry an inline namespace of their own, so that a program that also links
// code with other ridgeline:: classes of the same names never has two definitions of one symbol.
inline namespace cpp_api {

class Error : public std::runtime_error {
 public:
  explicit Error(rl_status status)
      : std::runtime_error(rl_status_message(status)), status_(status) {}
  rl_status status() const { return status_; }

 private:
  rl_status status_;
};

inline void Check(rl_status status) {
  if (status != RL_OK) throw Error(status);
}

// Features of one print; wiped when destroyed.
class Features {
 public:
  explicit Features(rl_features* handle) : handle_(handle) {}
  rl_features* get() const { return handle_.get(); }

  std::vector<rl_minutia> minutiae(rl_frame frame = RL_FRAME_INPUT) const {
    std::vector<rl_minutia> out(rl_features_minutia_count(get()));
    size_t count = 0;
    Check(rl_features_minutiae(get(), frame, out.data(), out.size(), &count));
    return out;
  }
  std::vector<rl_singular_point> singular_points(rl_frame frame = RL_FRAME_INPUT) const {
    std::vector<rl_singular_point> out(rl_features_singular_point_count(get()));
    size_t count = 0;
    Check(rl_features_singular_points(get(), frame, out.data(), out.size(), &count));
    return out;
  }
  int quality() const { return rl_features_quality(get()); }

 private:
  struct Deleter {
    void operator()(rl_features* f) const { rl_features_destroy(f); }
  };
  std::unique_ptr<rl_features, Deleter> handle_;
};

// One engine; use one per thread.
class Engine {
 public:
  Engine() {
    rl_engine* engine = nullptr;
    Check(rl_engine_create(&engine));
    handle_.reset(engine);
  }

  // pixels: height rows of width 8-bit grey values, tightly packed.
  Features extract(std::span<const uint8_t> pixels, int width, int height, int ppi = 500) {
    if (width <= 0 || height <= 0 ||
        pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) {
      throw Error(RL_E_INVALID_ARGUMENT);
    }
    rl_features* features = nullptr;
    Check(rl_extract(handle_.get(), pixels.data(), width, height, width, ppi, &features));
    return Features(features);
  }

  std::vector<uint8_t> encode_template(const Features& features) {
    std::vector<uint8_t> bytes(1024);
    size_t size = 0;
    Check(rl_template_encode(handle_.get(), features.get(), bytes.data(), bytes.size(), &size));
    bytes.resize(size);
    return bytes;
  }

  Features decode_template(std::span<const uint8_t> bytes) {
    rl_features* features = nullptr;
    Check(rl_template_decode(handle_.get(), bytes.data(), bytes.size(), &features));
    return Features(features);
  }

  // A standard minutiae record of features (see rl_record_export).
  std::vector<uint8_t> export_record(
      const Features& features, rl_record_format format = RL_RECORD_ISO19794_2_2005,
      const rl_record_options& options = rl_record_options_default()) {
    size_t size = 0;
    const rl_status status =
        rl_record_export(handle_.get(), features.get(), format, &options, nullptr, 0, &size);
    if (status != RL_E_BUFFER_TOO_SMALL) Check(status);
    std::vector<uint8_t> bytes(size);
    Check(rl_record_export(handle_.get(), features.get(), format, &options, bytes.data(),
                           bytes.size(), &size));
    bytes.resize(size);
    return bytes;
  }

  // The number of finger views of a record, and one of them as features.
  static size_t record_views(std::span<const uint8_t> bytes) {
    size_t views = 0;
    Check(rl_record_view_count(bytes.data(), bytes.size(), &views));
    return views;
  }
  Features import_record(std::span<const uint8_t> bytes, size_t view = 0) {
    rl_features* features = nullptr;
    Check(rl_record_import(handle_.get(), bytes.data(), bytes.size(), view, &features));
    return Features(features);
  }

  int compare(const Features& probe, const Features& reference) {
    int32_t score = 0;
    Check(rl_compare(handle_.get(), probe.get(), reference.get(), &score));
    return score;
  }

  static int threshold(int level) { return rl_threshold(level); }
  static bool matches(int score, int level = 4) { return rl_matches(score, level) != 0; }

 private:
  struct Deleter {
    void operator()(rl_engine* e) const { rl_engine_destroy(e); }
  };
  std::unique_ptr<rl_engine, Deleter> handle_;
};

// An image file decoded into 8-bit grey pixels, width bytes a row; ppi 0 when the file declares
// no resolution.
struct Image {
  int width = 0;
  int height = 0;
  int ppi = 0;
  std::vector<uint8_t> pixels;
};

namespace detail {
// Copies a buffer made by the library and releases it (wiped) whatever happens.
inline std::vector<uint8_t> TakeBuffer(uint8_t* buffer, size_t size) {
  struct Release {
    uint8_t* buffer;
    size_t size;
    ~Release() { rl_image_free(buffer, size); }
  } release{buffer, size};
  return std::vector<uint8_t>(buffer, buffer + size);
}
}  // namespace detail

// Reads an image file held in memory (see rl_image_decode).
inline Image decode_image(std::span<const uint8_t> bytes) {
  uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t ppi = 0;
  Check(rl_image_decode(bytes.data(), bytes.size(), &pixels, &width, &height, &ppi));
  Image image{width, height, ppi, {}};
  image.pixels = detail::TakeBuffer(pixels, static_cast<size_t>(width) * height);
  return image;
}

// Writes an image file held in memory as PGM, PNG or WSQ (see rl_image_convert).
inline std::vector<uint8_t> convert_image(std::span<const uint8_t> bytes, rl_image_format to,
                                          double bitrate = 0.75) {
  uint8_t* out = nullptr;
  size_t size = 0;
  Check(rl_image_convert(bytes.data(), bytes.size(), to, bitrate, &out, &size));
  return detail::TakeBuffer(out, size);
}

}  // namespace cpp_api
}  // namespace ridgeline

#endif  // RIDGELINE_RIDGELINE_HPP_
