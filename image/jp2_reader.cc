// JPEG 2000 (a bare codestream or the JP2 file format) through OpenJPEG, read from memory. The
// header is read first and its size checked before anything is decoded; the first component
// (or the luma of three) becomes 8-bit grey, whatever its precision and sign.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "image/print_image.h"

namespace ridgeline::image {
namespace {

struct MemoryStream {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

OPJ_SIZE_T ReadProc(void* buffer, OPJ_SIZE_T size, void* data) {
  auto* stream = static_cast<MemoryStream*>(data);
  if (stream->at >= stream->bytes.size()) return static_cast<OPJ_SIZE_T>(-1);
  const size_t n = std::min<size_t>(size, stream->bytes.size() - stream->at);
  std::memcpy(buffer, stream->bytes.data() + stream->at, n);
  stream->at += n;
  return n;
}
OPJ_OFF_T SkipProc(OPJ_OFF_T count, void* data) {
  auto* stream = static_cast<MemoryStream*>(data);
  if (count < 0) {
    const size_t back = std::min<size_t>(static_cast<size_t>(-count), stream->at);
    stream->at -= back;
    return -static_cast<OPJ_OFF_T>(back);
  }
  const size_t n = std::min<size_t>(static_cast<size_t>(count), stream->bytes.size() - stream->at);
  stream->at += n;
  return static_cast<OPJ_OFF_T>(n);
}
OPJ_BOOL SeekProc(OPJ_OFF_T offset, void* data) {
  auto* stream = static_cast<MemoryStream*>(data);
  if (offset < 0 || static_cast<uint64_t>(offset) > stream->bytes.size()) return OPJ_FALSE;
  stream->at = static_cast<size_t>(offset);
  return OPJ_TRUE;
}

void KeepError(const char* message, void* data) {
  auto* text = static_cast<std::string*>(data);
  if (text->empty()) {
    *text = message;
    while (!text->empty() && text->back() == '\n') text->pop_back();
  }
}
void Ignore(const char*, void*) {}

struct CodecCloser {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamCloser {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageCloser {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

// A real image has a handful of tiles; the decoder builds a structure per tile while it reads
// the header, so a tiny file declaring a vast grid of tiny tiles costs seconds.
constexpr uint64_t kMaxTiles = 4096;

uint64_t BigEndian(std::span<const uint8_t> bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes[at + i];
  return value;
}

// The codestream of a JP2 file: the payload of its top-level 'jp2c' box. Empty when absent.
std::span<const uint8_t> Jp2Codestream(std::span<const uint8_t> file) {
  size_t at = 0;
  while (file.size() - at >= 8) {
    uint64_t length = BigEndian(file, at, 4);
    size_t header = 8;
    if (length == 1) {
      if (file.size() - at < 16) return {};
      length = BigEndian(file, at + 8, 8);
      header = 16;
    } else if (length == 0) {
      length = file.size() - at;  // the last box runs to the end
    }
    if (length < header || length > file.size() - at) return {};
    if (std::memcmp(file.data() + at + 4, "jp2c", 4) == 0) {
      return file.subspan(at + header, static_cast<size_t>(length) - header);
    }
    at += static_cast<size_t>(length);
  }
  return {};
}

// Checks the image and tile sizes of the codestream's SIZ segment before the decoder sees it.
void CheckSiz(std::span<const uint8_t> codestream, const std::string& name) {
  // SOC, then SIZ: marker, length, capabilities, then eight 32-bit sizes and offsets.
  constexpr size_t kSizBytes = 4 + 2 + 2 + 8 * 4;
  if (codestream.size() < kSizBytes || BigEndian(codestream, 0, 4) != 0xFF4FFF51) {
    throw InputError(name + ": unreadable JPEG 2000 (no image size segment at the start)");
  }
  const uint64_t x1 = BigEndian(codestream, 8, 4), y1 = BigEndian(codestream, 12, 4);
  const uint64_t x0 = BigEndian(codestream, 16, 4), y0 = BigEndian(codestream, 20, 4);
  const uint64_t tile_w = BigEndian(codestream, 24, 4), tile_h = BigEndian(codestream, 28, 4);
  const uint64_t tile_x0 = BigEndian(codestream, 32, 4), tile_y0 = BigEndian(codestream, 36, 4);
  if (x1 <= x0 || y1 <= y0 || tile_w == 0 || tile_h == 0 || tile_x0 > x0 || tile_y0 > y0) {
    throw InputError(name + ": damaged JPEG 2000 (inconsistent image or tile size)");
  }
  CheckImageSize(static_cast<int>(std::min<uint64_t>(x1 - x0, kMaxImageSide + 1)),
                 static_cast<int>(std::min<uint64_t>(y1 - y0, kMaxImageSide + 1)), name);
  const uint64_t tiles =
      ((x1 - tile_x0 + tile_w - 1) / tile_w) * ((y1 - tile_y0 + tile_h - 1) / tile_h);
  if (tiles > kMaxTiles) {
    throw InputError(name + ": JPEG 2000 with " + std::to_string(tiles) + " tiles; at most " +
                     std::to_string(kMaxTiles) + " are read");
  }
}

// One sample of a component scaled to 0..255.
uint32_t Sample(const opj_image_comp_t& component, size_t index) {
  int64_t value = component.data[index];
  if (component.sgnd) value += int64_t{1} << (component.prec - 1);
  const int64_t top = (int64_t{1} << component.prec) - 1;
  value = std::clamp<int64_t>(value, 0, top);
  return static_cast<uint32_t>((value * 255 + top / 2) / top);
}

}  // namespace

PrintImage DecodeJpeg2000(std::span<const uint8_t> bytes, const std::string& name) {
  const bool jp2_box = bytes.size() >= 12 && std::memcmp(bytes.data() + 4, "jP  ", 4) == 0;
  CheckSiz(jp2_box ? Jp2Codestream(bytes) : bytes, name);
  std::unique_ptr<opj_codec_t, CodecCloser> codec(
      opj_create_decompress(jp2_box ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  std::string error;
  opj_set_error_handler(codec.get(), KeepError, &error);
  opj_set_warning_handler(codec.get(), Ignore, nullptr);
  opj_set_info_handler(codec.get(), Ignore, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  auto fail = [&](const std::string& what) {
    return InputError(name + ": " + what + (error.empty() ? "" : " (" + error + ")"));
  };
  if (!opj_setup_decoder(codec.get(), &parameters)) throw fail("unreadable JPEG 2000");

  MemoryStream source{bytes};
  std::unique_ptr<opj_stream_t, StreamCloser> stream(opj_stream_create(64 * 1024, OPJ_TRUE));
  opj_stream_set_user_data(stream.get(), &source, nullptr);
  opj_stream_set_user_data_length(stream.get(), bytes.size());
  opj_stream_set_read_function(stream.get(), ReadProc);
  opj_stream_set_skip_function(stream.get(), SkipProc);
  opj_stream_set_seek_function(stream.get(), SeekProc);

  opj_image_t* raw = nullptr;
  if (!opj_read_header(stream.get(), codec.get(), &raw)) {
    opj_image_destroy(raw);
    throw fail("unreadable JPEG 2000");
  }
  std::unique_ptr<opj_image_t, ImageCloser> header(raw);
  const uint64_t width = uint64_t{header->x1} - std::min(header->x0, header->x1);
  const uint64_t height = uint64_t{header->y1} - std::min(header->y0, header->y1);
  CheckImageSize(static_cast<int>(std::min<uint64_t>(width, kMaxImageSide + 1)),
                 static_cast<int>(std::min<uint64_t>(height, kMaxImageSide + 1)), name);
  if (header->numcomps != 1 && header->numcomps != 3 && header->numcomps != 4) {
    throw fail("JPEG 2000 with " + std::to_string(header->numcomps) +
               " components; grey or colour expected");
  }
  // Only the components the grey value needs are decoded.
  const OPJ_UINT32 used = header->numcomps == 1 ? 1 : 3;
  const OPJ_UINT32 wanted[3] = {0, 1, 2};
  if (used != header->numcomps &&
      !opj_set_decoded_components(codec.get(), used, wanted, OPJ_FALSE)) {
    throw fail("unreadable JPEG 2000");
  }
  if (!opj_decode(codec.get(), stream.get(), header.get()) ||
      !opj_end_decompress(codec.get(), stream.get())) {
    throw fail("damaged or truncated JPEG 2000");
  }
  for (OPJ_UINT32 c = 0; c < used; ++c) {
    const opj_image_comp_t& component = header->comps[c];
    if (component.w != width || component.h != height || component.data == nullptr ||
        component.prec < 1 || component.prec > 31) {
      throw fail("JPEG 2000 with subsampled or empty components is not supported");
    }
  }
  PrintImage image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.format = "JPEG2000";
  image.pixels.resize(static_cast<size_t>(width * height));
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    if (used == 1) {
      image.pixels[i] = static_cast<uint8_t>(Sample(header->comps[0], i));
    } else {
      const uint32_t r = Sample(header->comps[0], i), g = Sample(header->comps[1], i),
                     b = Sample(header->comps[2], i);
      image.pixels[i] = static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
    }
  }
  return image;
}

}  // namespace ridgeline::image
