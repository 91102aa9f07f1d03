#include "tests/support/image_encoders.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// After <cstdio>: jpeglib.h uses size_t and FILE without declaring them. Kept out of the header:
// its TRUE and FALSE macros collide with the platform types.
#include <jpeglib.h>
#include <openjpeg.h>

namespace ridgeline::testing {

std::vector<uint8_t> EncodeJpeg(int width, int height, const std::vector<uint8_t>& pixels, int dpi,
                                int quality) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);  // fixtures are well formed: the default exit is fine
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (dpi > 0) {
    info.write_JFIF_header = TRUE;
    info.density_unit = 1;
    info.X_density = info.Y_density = static_cast<UINT16>(dpi);
  }
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels.data()) +
                   static_cast<size_t>(info.next_scanline) * static_cast<size_t>(width);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

std::vector<uint8_t> EncodeJpeg2000(int width, int height, const std::vector<uint8_t>& pixels) {
  opj_image_cmptparm_t component{};
  component.dx = component.dy = 1;
  component.w = static_cast<OPJ_UINT32>(width);
  component.h = static_cast<OPJ_UINT32>(height);
  component.prec = 8;
  opj_image_t* image = opj_image_create(1, &component, OPJ_CLRSPC_GRAY);
  image->x1 = component.w;
  image->y1 = component.h;
  for (size_t i = 0; i < pixels.size(); ++i) image->comps[0].data[i] = pixels[i];
  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.numresolution = 3;  // small fixtures: each level halves the sides
  parameters.tcp_numlayers = 1;
  parameters.tcp_rates[0] = 0;  // lossless
  parameters.cp_disto_alloc = 1;
  opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
  if (!opj_setup_encoder(codec, &parameters, image)) std::abort();
  struct Sink {
    std::vector<uint8_t> bytes;
    size_t at = 0;
  } sink;
  opj_stream_t* stream = opj_stream_create(4096, OPJ_FALSE);
  opj_stream_set_user_data(stream, &sink, nullptr);
  opj_stream_set_write_function(stream, [](void* data, OPJ_SIZE_T n, void* user) -> OPJ_SIZE_T {
    auto* s = static_cast<Sink*>(user);
    if (s->bytes.size() < s->at + n) s->bytes.resize(s->at + n);
    std::memcpy(s->bytes.data() + s->at, data, n);
    s->at += n;
    return n;
  });
  opj_stream_set_seek_function(stream, [](OPJ_OFF_T offset, void* user) -> OPJ_BOOL {
    static_cast<Sink*>(user)->at = static_cast<size_t>(offset);
    return OPJ_TRUE;
  });
  opj_stream_set_skip_function(stream, [](OPJ_OFF_T n, void* user) -> OPJ_OFF_T {
    static_cast<Sink*>(user)->at += static_cast<size_t>(n);
    return n;
  });
  opj_start_compress(codec, image, stream);
  opj_encode(codec, stream);
  opj_end_compress(codec, stream);
  opj_stream_destroy(stream);
  opj_destroy_codec(codec);
  opj_image_destroy(image);
  return sink.bytes;
}

}  // namespace ridgeline::testing
