#include "tools/cli/convert_command.h"

#include <iostream>

#include "image/wsq_encoder.h"
#include "tools/cli/exit_codes.h"
#include "tools/image/image_writer.h"
#include "tools/image/png_writer.h"

namespace ridgeline::tools {

CLI::App* AddConvertCommand(CLI::App& app, ConvertOptions* options) {
  CLI::App* convert =
      app.add_subcommand("convert", "write an image as PGM, PNG or WSQ (pixels unchanged)");
  convert->add_option("input", options->input, "the image to convert")->required();
  convert->add_option("-o,--output", options->output, "the file to write")->required();
  convert->add_option("--to", options->to, "pgm, png or wsq (default: from the output's name)")
      ->check(CLI::IsMember({"pgm", "png", "wsq"}, CLI::ignore_case));
  convert->add_option("--bitrate", options->bitrate, "WSQ file size in bits per pixel")
      ->capture_default_str()
      ->check(CLI::Range(kMinWsqBitrate, kMaxWsqBitrate));
  convert->add_flag("--reference-quantisation", options->reference_quantisation,
                    "WSQ: quantise as other encoders do (files smaller than the bit rate)");
  return convert;
}

int RunConvert(const ConvertOptions& options, int dpi) {
  const std::optional<ImageFileFormat> format =
      options.to.empty() ? ImageFormatOf(options.output) : ImageFormatNamed(options.to);
  if (!format) {
    throw InputError(options.output +
                     ": cannot tell the format from the name; end it in .pgm, .png or .wsq or "
                     "give --to");
  }
  const PrintImage image = ReadPrintImage(options.input);
  std::vector<uint8_t> bytes;
  switch (*format) {
    case ImageFileFormat::kPgm:
      bytes = EncodePgm(image);
      break;
    case ImageFileFormat::kPng:
      bytes = EncodePng(image.width, image.height, 1, image.pixels);
      break;
    case ImageFileFormat::kWsq: {
      const int ppi = dpi != 0 ? dpi : image.declared_dpi;
      bytes = EncodeWsq(
          image, options.bitrate, ppi > 0 ? ppi : -1,
          options.reference_quantisation ? WsqRateControl::kReference : WsqRateControl::kFileSize);
      break;
    }
  }
  WriteFileAtomically(options.output, bytes);
  std::cout << options.output << ": " << image.width << " x " << image.height << " pixels, "
            << bytes.size() << " bytes";
  if (*format == ImageFileFormat::kWsq) {
    std::cout << " (" << 8.0 * static_cast<double>(bytes.size()) / image.pixels.size()
              << " bits/pixel)";
  }
  std::cout << "\n";
  return kExitSuccess;
}

}  // namespace ridgeline::tools
