// Extracts two prints (binary PGM at 500 ppi) and compares them with the C++ interface:
//   compare_cpp PROBE.pgm REFERENCE.pgm   prints "score S threshold T match|no match"
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <ridgeline/ridgeline.hpp>
#include <span>

#include "pgm.h"

namespace {

ridgeline::Features Extract(ridgeline::Engine& engine, const char* path) {
  int width = 0;
  int height = 0;
  std::unique_ptr<unsigned char, decltype(&std::free)> pixels(read_pgm(path, &width, &height),
                                                              &std::free);
  if (!pixels) throw std::runtime_error(std::string(path) + ": not a binary PGM");
  const std::span<const uint8_t> view(pixels.get(), static_cast<size_t>(width) * height);
  ridgeline::Features features = engine.extract(view, width, height);
  rl_wipe(pixels.get(), view.size());
  return features;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: compare_cpp PROBE.pgm REFERENCE.pgm\n";
    return 2;
  }
  try {
    ridgeline::Engine engine;
    const ridgeline::Features probe = Extract(engine, argv[1]);
    const ridgeline::Features reference = Extract(engine, argv[2]);
    const std::vector<uint8_t> stored = engine.encode_template(reference);
    const ridgeline::Features enrolled = engine.decode_template(stored);
    const int score = engine.compare(probe, enrolled);
    const bool match = ridgeline::Engine::matches(score);
    std::cout << "ridgeline " << rl_version() << ": " << probe.minutiae().size() << " and "
              << reference.minutiae().size() << " minutiae, score " << score << " threshold "
              << ridgeline::Engine::threshold(4) << (match ? " match" : " no match") << "\n";
    return match ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 2;
  }
}
