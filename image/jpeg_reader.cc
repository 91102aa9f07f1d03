// JPEG through libjpeg, asked for one grey channel. libjpeg reports a fatal error by calling
// the error manager's error_exit, which must not return: ours longjmps back to the frame that
// started the decode, and that frame holds nothing with a destructor between the setjmp and
// the jump (the pixels belong to the caller's PrintImage). A warning (damaged or truncated
// data, which libjpeg would paper over with grey) refuses the file as well: a print that was
// filled in by the decoder is not the finger that was scanned.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

// After <cstdio>: jpeglib.h uses size_t and FILE without declaring them.
#include <jpeglib.h>

#include "image/print_image.h"

namespace ridgeline::image {
namespace {

// A progressive JPEG can hold any number of scans, each a pass over the whole image; a tiny
// file with thousands of them keeps the decoder busy for minutes. Real files have about ten.
constexpr int kMaxScans = 256;

struct ErrorManager {
  jpeg_error_mgr base;  // first, so that the library's pointer converts back to ours
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->jump, 1);
}

void EmitMessage(j_common_ptr info, int level) {
  // Level -1 is a warning about the data (corrupt, truncated); trace levels are ignored.
  if (level < 0) ErrorExit(info);
}

void LimitScans(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxScans) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    std::snprintf(manager->message, sizeof manager->message, "more than %d scans", kMaxScans);
    std::longjmp(manager->jump, 1);
  }
}

int JfifDpi(const jpeg_decompress_struct& info) {
  if (!info.saw_JFIF_marker || info.X_density == 0) return 0;
  if (info.density_unit == 1) return info.X_density;
  if (info.density_unit == 2) return (info.X_density * 254 + 50) / 100;
  return 0;
}

// Decodes into `image`; false with `error` filled when libjpeg gave up. The size limit is
// checked between reading the header and allocating the pixels, so a header that claims
// 65,000 pixels a side costs nothing. No object with a destructor lives in this frame.
bool Decode(std::span<const uint8_t> bytes, PrintImage* image, char* error, size_t error_size,
            bool* too_large) {
  jpeg_decompress_struct info;
  ErrorManager manager;
  jpeg_progress_mgr progress;
  info.err = jpeg_std_error(&manager.base);
  manager.base.error_exit = ErrorExit;
  manager.base.emit_message = EmitMessage;
  manager.message[0] = '\0';
  if (setjmp(manager.jump)) {
    jpeg_destroy_decompress(&info);
    std::snprintf(error, error_size, "%s", manager.message);
    return false;
  }
  jpeg_create_decompress(&info);
  progress.progress_monitor = LimitScans;
  info.progress = &progress;
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  if (info.image_width == 0 || info.image_height == 0 || info.image_width > kMaxImageSide ||
      info.image_height > kMaxImageSide) {
    image->width = static_cast<int>(info.image_width);
    image->height = static_cast<int>(info.image_height);
    *too_large = true;
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&info);
  image->width = static_cast<int>(info.output_width);
  image->height = static_cast<int>(info.output_height);
  image->declared_dpi = JfifDpi(info);
  image->pixels.resize(static_cast<size_t>(image->width) * image->height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image->pixels.data() + static_cast<size_t>(info.output_scanline) * image->width;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

PrintImage DecodeJpeg(std::span<const uint8_t> bytes, const std::string& name) {
  PrintImage image;
  image.format = "JPEG";
  char error[JMSG_LENGTH_MAX] = "";
  bool too_large = false;
  if (!Decode(bytes, &image, error, sizeof error, &too_large)) {
    if (too_large) CheckImageSize(image.width, image.height, name);
    throw InputError(name + ": damaged or truncated JPEG (" + error + ")");
  }
  return image;
}

}  // namespace ridgeline::image
