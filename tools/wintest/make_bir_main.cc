// ridgeline-make-bir: turns print image files into the sample records the test host feeds to
// the adapter.
//
//   ridgeline-make-bir IMAGE OUT.bir [IMAGE OUT.bir ...]
//
// Each image (8-bit grey TIFF or binary PGM, taken as 500 pixels per inch) becomes a record
// with one uncompressed finger image. Exit status 0, or 2 when an image cannot be used.
#include <cstdio>
#include <string>

#include "tools/wintest/bir_record.h"
#include "tools/wintest/grey_image_file.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: ridgeline-make-bir IMAGE OUT.bir [IMAGE OUT.bir ...]\n");
    return 2;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    ridgeline::wintest::GreyImage image;
    std::string error;
    if (!ridgeline::wintest::ReadGreyImage(argv[i], &image, &error)) {
      std::fprintf(stderr, "ridgeline-make-bir: %s: %s\n", argv[i], error.c_str());
      return 2;
    }
    const std::vector<uint8_t> bir =
        ridgeline::wintest::BuildFingerImageBir(image.width, image.height, image.pixels);
    if (!ridgeline::wintest::WriteFileBytes(argv[i + 1], bir)) {
      std::fprintf(stderr, "ridgeline-make-bir: cannot write %s\n", argv[i + 1]);
      return 2;
    }
    std::printf("%s: %d x %d -> %s (%zu bytes)\n", argv[i], image.width, image.height, argv[i + 1],
                bir.size());
  }
  return 0;
}
