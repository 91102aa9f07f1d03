// ridgeline-make-bir: turns print image files into the sample records the test host feeds to
// the adapter.
//
//   ridgeline-make-bir IMAGE OUT.bir [IMAGE OUT.bir ...]
//
// Each image (any format the tools' image reader takes, converted to 8-bit grey) becomes a
// record with one uncompressed finger image, taken as 500 pixels per inch whatever the file
// declares. Exit status 0, or 2 when an image cannot be used.
#include <cstdio>
#include <exception>
#include <string>

#include "image/print_image.h"
#include "tools/wintest/bir_record.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: ridgeline-make-bir IMAGE OUT.bir [IMAGE OUT.bir ...]\n");
    return 2;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    ridgeline::tools::PrintImage image;
    try {
      image = ridgeline::tools::ReadPrintImage(argv[i]);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "ridgeline-make-bir: %s\n", error.what());
      return 2;
    }
    const std::vector<uint8_t> bir =
        ridgeline::wintest::BuildFingerImageBir(image.width, image.height, image.pixels);
    if (!ridgeline::wintest::WriteFileBytes(argv[i + 1], bir)) {
      std::fprintf(stderr, "ridgeline-make-bir: cannot write %s\n", argv[i + 1]);
      return 2;
    }
    std::printf("%s: %s, %d x %d -> %s (%zu bytes)\n", argv[i], image.format.c_str(), image.width,
                image.height, argv[i + 1], bir.size());
  }
  return 0;
}
