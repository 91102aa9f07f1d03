// The formats images are written in (binary PGM, PNG, WSQ), told by name or by a file's
// extension, and the PGM form of an image.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/print_image.h"

namespace ridgeline::image {

enum class ImageFileFormat { kPgm, kPng, kWsq };

// "pgm", "png" or "wsq" (any case); nullopt for anything else.
std::optional<ImageFileFormat> ImageFormatNamed(const std::string& name);
// The format a file name's extension asks for (.pgm, .png, .wsq); nullopt when none matches.
std::optional<ImageFileFormat> ImageFormatOf(const std::filesystem::path& path);

// The file bytes: "P5\n<W> <H>\n255\n" and the rows.
std::vector<uint8_t> EncodePgm(const PrintImage& image);

}  // namespace ridgeline::image
