// Writing 8-bit grey images as files: binary PGM, PNG or WSQ, chosen by name, written so that
// a reader never sees half a file and no one else can read it while it is being made.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/image/print_image.h"

namespace ridgeline::tools {

enum class ImageFileFormat { kPgm, kPng, kWsq };

// "pgm", "png" or "wsq" (any case); nullopt for anything else.
std::optional<ImageFileFormat> ImageFormatNamed(const std::string& name);
// The format a file name's extension asks for (.pgm, .png, .wsq); nullopt when none matches.
std::optional<ImageFileFormat> ImageFormatOf(const std::filesystem::path& path);

// The file bytes: "P5\n<W> <H>\n255\n" and the rows.
std::vector<uint8_t> EncodePgm(const PrintImage& image);

// Writes bytes to path through a private temporary file beside it that is then renamed over
// path (which replaces a symbolic link there rather than following it). The file is readable by
// its owner only. Throws InputError when the file cannot be written.
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace ridgeline::tools
