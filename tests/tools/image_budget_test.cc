// Decompression bombs: small files that declare huge images or absurd resolutions. Each is
// prepared in a forked child, which reports its growth in peak resident memory; the budget
// (4,000 pixels a side, before and after resampling to 500 dpi) must hold that growth to tens
// of megabytes. Before, a 16 KB PNG declaring 100 dpi was resampled to 20,000 x 20,000 (787 MB)
// before the size check refused it.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/image_encoders.h"
#include "tools/host/capture_preparation.h"
#include "tools/image/png_writer.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct Outcome {
  bool accepted = false;
  long growth_kb = 0;  // peak resident size gained while preparing
};

// Prepares the file in a child process, so that the peak resident size is its own.
Outcome PrepareInChild(const fs::path& path, CaptureOptions options) {
  int channel[2];
  if (pipe(channel) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const long before = PeakKilobytes();
    Outcome outcome;
    try {
      PrepareCapture(path, options, nullptr);
      outcome.accepted = true;
    } catch (const InputError&) {
    }
    outcome.growth_kb = PeakKilobytes() - before;
    (void)!write(channel[1], &outcome, sizeof outcome);
    _exit(0);
  }
  close(channel[1]);
  Outcome outcome;
  const bool read_all = read(channel[0], &outcome, sizeof outcome) == sizeof outcome;
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(read_all && WIFEXITED(status)) << "the child died preparing " << path;
  return outcome;
}

std::vector<uint8_t> PngAt(int side, int dpi) {
  std::vector<uint8_t> pixels(static_cast<size_t>(side) * side, 200);
  for (size_t i = 0; i < pixels.size(); i += 7) pixels[i] = 60;  // something to trim around
  std::vector<uint8_t> png = EncodePng(side, side, 1, pixels);
  const uint32_t per_metre = static_cast<uint32_t>(dpi / 0.0254 + 0.5);
  std::vector<uint8_t> chunk = {0, 0, 0, 9, 'p', 'H', 'Y', 's'};
  for (int k = 0; k < 2; ++k)
    for (int i = 3; i >= 0; --i) chunk.push_back(static_cast<uint8_t>(per_metre >> (8 * i)));
  chunk.insert(chunk.end(), {1, 0, 0, 0, 0});
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  return png;
}

class ImageBudget : public ::testing::Test {
 protected:
  ImageBudget() {
    char pattern[] = "/tmp/ridgeline_budget_XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  ~ImageBudget() override { fs::remove_all(dir_); }
  fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return dir_ / name;
  }
  fs::path dir_;
};

constexpr long kBudgetKb = 80 * 1024;

TEST_F(ImageBudget, LowResolutionBombsAreRefusedBeforeResampling) {
  const fs::path bomb = Write("bomb.png", PngAt(4000, 100));
  EXPECT_LT(fs::file_size(bomb), 100u * 1024);
  const Outcome declared = PrepareInChild(bomb, {});
  EXPECT_FALSE(declared.accepted);
  EXPECT_LT(declared.growth_kb, kBudgetKb);
  const fs::path plain = Write("plain.png", PngAt(4000, 0));
  const Outcome forced = PrepareInChild(plain, {.dpi = 50, .trim = true});
  EXPECT_FALSE(forced.accepted);
  EXPECT_LT(forced.growth_kb, kBudgetKb);
}

TEST_F(ImageBudget, HugeDeclaredSizesCostNothing) {
  std::vector<uint8_t> png = EncodePng(8, 8, 1, std::vector<uint8_t>(64, 9));
  png[16] = png[20] = 0x7F;  // IHDR width and height near 2^31
  std::string pgm = "P5 100000 100000 255\n";
  std::vector<uint8_t> bmp(54, 0);
  bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[26] = 1, bmp[28] = 24;
  bmp[20] = bmp[24] = 0x10;  // 1,048,576 x 1,048,576
  std::vector<uint8_t> jpeg = ridgeline::testing::EncodeJpeg(8, 8, std::vector<uint8_t>(64, 9));
  for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) jpeg[i + 5] = jpeg[i + 7] = 0xFF;
  }
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"a.png", png}, {"a.pgm", {pgm.begin(), pgm.end()}}, {"a.bmp", bmp}, {"a.jpg", jpeg}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const Outcome outcome = PrepareInChild(Write(name, bytes), {});
    EXPECT_FALSE(outcome.accepted);
    EXPECT_LT(outcome.growth_kb, 8 * 1024);
  }
}

// The largest image the host accepts: 4,000 pixels a side, declared at a resolution that
// brings it into the engine's window. Its cost is the budget's real figure.
TEST_F(ImageBudget, LargestAcceptedImageStaysWithinTheBudget) {
  const Outcome outcome = PrepareInChild(Write("large.png", PngAt(4000, 4300)), {});
  EXPECT_TRUE(outcome.accepted);
  EXPECT_LT(outcome.growth_kb, kBudgetKb);
  std::cout << "peak resident growth for a 4000 x 4000 PNG: " << outcome.growth_kb / 1024
            << " MB\n";
}

}  // namespace
}  // namespace ridgeline::tools
