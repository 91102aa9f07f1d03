#include "tools/golden/lib/golden.h"

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace ridgeline::golden {

namespace {

std::map<std::string, StageCheck>& StageTable() {
  static std::map<std::string, StageCheck> table;
  return table;
}

std::vector<Suite>& SuiteTable() {
  static std::vector<Suite> table;
  return table;
}

// Reads the next whitespace-separated header token of a PGM.
std::string NextToken(std::istream& in) {
  std::string token;
  char c;
  while (in.get(c)) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!token.empty()) break;
      continue;
    }
    token.push_back(c);
  }
  return token;
}

}  // namespace

Pgm ReadPgm(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  if (NextToken(in) != "P5") throw std::runtime_error(path.string() + ": not a binary PGM");
  Pgm pgm;
  pgm.width = std::stoi(NextToken(in));
  pgm.height = std::stoi(NextToken(in));
  if (std::stoi(NextToken(in)) != 255) throw std::runtime_error(path.string() + ": maxval");
  if (pgm.width <= 0 || pgm.height <= 0 || pgm.width > 65536 || pgm.height > 65536) {
    throw std::runtime_error(path.string() + ": bad size");
  }
  pgm.pixels.resize(static_cast<size_t>(pgm.width) * static_cast<size_t>(pgm.height));
  in.read(reinterpret_cast<char*>(pgm.pixels.data()),
          static_cast<std::streamsize>(pgm.pixels.size()));
  if (in.gcount() != static_cast<std::streamsize>(pgm.pixels.size())) {
    throw std::runtime_error(path.string() + ": truncated");
  }
  return pgm;
}

void WritePgm(const fs::path& path, const Pgm& pgm) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << pgm.width << ' ' << pgm.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(pgm.pixels.data()),
            static_cast<std::streamsize>(pgm.pixels.size()));
}

Json ReadJson(const fs::path& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  return Json::parse(in);
}

OwnedImage::OwnedImage(int width, int height)
    : width_(width), height_(height), image_(AllocGrayImage(width, height)) {
  if (image_ == nullptr) throw std::bad_alloc();
}

OwnedImage::OwnedImage(const Pgm& pgm) : OwnedImage(pgm.width, pgm.height) {
  std::memcpy(image_[0], pgm.pixels.data(), pgm.pixels.size());
}

OwnedImage::~OwnedImage() { FreeGrayImage(image_); }

Pgm OwnedImage::ToPgm() const {
  Pgm pgm;
  pgm.width = width_;
  pgm.height = height_;
  pgm.pixels.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
  for (int y = 0; y < height_; ++y) {
    std::memcpy(pgm.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width_), image_[y],
                static_cast<size_t>(width_));
  }
  return pgm;
}

std::string ComparePgm(const Pgm& got, const Pgm& want) {
  std::ostringstream out;
  if (got.width != want.width || got.height != want.height) {
    out << "size: got " << got.width << "x" << got.height << ", want " << want.width << "x"
        << want.height;
    return out.str();
  }
  for (size_t i = 0; i < want.pixels.size(); ++i) {
    if (got.pixels[i] != want.pixels[i]) {
      const size_t w = static_cast<size_t>(want.width);
      size_t count = 0;
      for (size_t j = i; j < want.pixels.size(); ++j) count += got.pixels[j] != want.pixels[j];
      out << "pixel (" << i % w << ", " << i / w << "): got " << int{got.pixels[i]} << ", want "
          << int{want.pixels[i]} << " (" << count << " pixels differ)";
      return out.str();
    }
  }
  return "";
}

std::string CompareJson(const Json& got, const Json& want, const std::string& path) {
  const std::string here = path.empty() ? "$" : path;
  if (want.is_object()) {
    if (!got.is_object()) return here + ": got " + got.dump() + ", want an object";
    for (auto it = want.begin(); it != want.end(); ++it) {
      if (!got.contains(it.key())) return path + "." + it.key() + ": missing";
      std::string diff = CompareJson(got.at(it.key()), it.value(), path + "." + it.key());
      if (!diff.empty()) return diff;
    }
    return "";
  }
  if (want.is_array()) {
    if (!got.is_array()) return here + ": got " + got.dump() + ", want an array";
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
      std::string diff = CompareJson(got[i], want[i], path + "[" + std::to_string(i) + "]");
      if (!diff.empty()) return diff;
    }
    if (got.size() != want.size()) {
      return here + ": got " + std::to_string(got.size()) + " entries, want " +
             std::to_string(want.size());
    }
    return "";
  }
  if (got != want) return here + ": got " + got.dump() + ", want " + want.dump();
  return "";
}

fs::path StageContext::InputPath(const std::string& role) const {
  return dir_ / stage_.at("inputs").at(role).get<std::string>();
}

fs::path StageContext::OutputPath(const std::string& role) const {
  return dir_ / stage_.at("outputs").at(role).get<std::string>();
}

StageRegistrar::StageRegistrar(const std::string& routine, StageCheck check) {
  StageTable()[routine] = std::move(check);
}

SuiteRegistrar::SuiteRegistrar(const std::string& folder, const std::string& name,
                               SuiteCheck check) {
  SuiteTable().push_back({folder, name, std::move(check)});
}

const StageCheck* FindStage(const std::string& routine) {
  auto& table = StageTable();
  auto it = table.find(routine);
  return it == table.end() ? nullptr : &it->second;
}

const std::vector<Suite>& Suites() { return SuiteTable(); }

}  // namespace ridgeline::golden
