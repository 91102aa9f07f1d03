#include "tools/synth/synth.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "tools/synth/portable_math.h"

namespace ridgeline::synth {
namespace {

// FNV-1a over the bytes; the pinned values below hold on every machine or the generator is not
// deterministic.
template <typename T>
uint64_t Fnv1a(const std::vector<T>& values) {
  uint64_t hash = 0xCBF29CE484222325ull;
  const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
  for (size_t i = 0; i < values.size() * sizeof(T); ++i) {
    hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  }
  return hash;
}

MasterParams SmallMaster(FingerClass finger_class) {
  MasterParams params;
  params.width = 160;
  params.height = 220;
  params.finger_class = finger_class;
  return params;
}

ImpressionParams SmallImpression() {
  ImpressionParams params;
  params.width = 96;
  params.height = 80;
  return params;
}

TEST(SynthDeterminism, SmallPrintMatchesItsPinnedHash) {
  MasterParams master_params;
  master_params.width = 96;
  master_params.height = 128;
  master_params.finger_class = FingerClass::kWhorl;
  master_params.growth_rounds = 8;
  const Master master = GenerateMaster(master_params, 1);
  const Image image = RenderImpression(master, ImpressionParams{64, 64, 20.0, 10.0, 6.0, 1.0}, 2);
  EXPECT_EQ(Fnv1a(master.ridges), 0x399E748D9DFD22E6ull);
  EXPECT_EQ(Fnv1a(image.pixels), 0x1F4B17F01EFA4819ull);
}

TEST(SynthDeterminism, SameSeedSameBytesOtherSeedOtherPrint) {
  const Master master = GenerateMaster(SmallMaster(FingerClass::kRandom), 77);
  const Master again = GenerateMaster(SmallMaster(FingerClass::kRandom), 77);
  const Master other = GenerateMaster(SmallMaster(FingerClass::kRandom), 78);
  EXPECT_EQ(master.ridges, again.ridges);
  EXPECT_EQ(master.finger_class, again.finger_class);
  EXPECT_NE(master.ridges, other.ridges);

  const Image image = RenderImpression(master, SmallImpression(), 5);
  EXPECT_EQ(image.pixels, RenderImpression(again, SmallImpression(), 5).pixels);
  EXPECT_NE(image.pixels, RenderImpression(master, SmallImpression(), 6).pixels);
}

// Finger f's prints depend only on (seed, f, impression), not on the set's size: the pinned
// value was taken from a set of one print.
TEST(SynthDeterminism, SetPrintsComeInOrderAndDoNotDependOnTheSetSize) {
  std::vector<uint8_t> first;
  std::vector<std::pair<int, int>> order;
  GenerateSet(SetParams{2, 2, 9, 48, 40}, [&](int finger, int impression, const Image& image) {
    order.emplace_back(finger, impression);
    if (finger == 1 && impression == 1) first = image.pixels;
    EXPECT_EQ(image.width, 48);
    EXPECT_EQ(image.height, 40);
  });
  EXPECT_EQ(Fnv1a(first), 0xFBBE580BA2545C2Eull);
  EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}, {2, 2}}));
}

TEST(SynthValidation, MasterParametersOutOfRangeAreRejected) {
  auto rejects = [](auto edit) {
    MasterParams params = SmallMaster(FingerClass::kArch);
    edit(params);
    EXPECT_THROW(GenerateMaster(params, 1), std::invalid_argument);
  };
  rejects([](MasterParams& p) { p.width = 95; });
  rejects([](MasterParams& p) { p.height = 2049; });
  rejects([](MasterParams& p) { p.mean_period = 5.9; });
  rejects([](MasterParams& p) { p.mean_period = 13.1; });
  rejects([](MasterParams& p) { p.growth_rounds = 0; });
  rejects([](MasterParams& p) { p.growth_rounds = 65; });
  rejects([](MasterParams& p) { p.finger_class = static_cast<FingerClass>(9); });
}

TEST(SynthValidation, ImpressionParametersOutOfRangeAreRejected) {
  MasterParams master_params = SmallMaster(FingerClass::kArch);
  master_params.growth_rounds = 1;
  const Master master = GenerateMaster(master_params, 1);
  auto rejects = [&](auto edit) {
    ImpressionParams params = SmallImpression();
    edit(params);
    EXPECT_THROW(RenderImpression(master, params, 1), std::invalid_argument);
  };
  rejects([](ImpressionParams& p) { p.width = 31; });
  rejects([](ImpressionParams& p) { p.height = 2049; });
  rejects([](ImpressionParams& p) { p.max_rotation_degrees = -1.0; });
  rejects([](ImpressionParams& p) { p.max_rotation_degrees = 46.0; });
  rejects([](ImpressionParams& p) { p.max_translation = 201.0; });
  rejects([](ImpressionParams& p) { p.max_distortion = 21.0; });
  rejects([](ImpressionParams& p) { p.noise = 4.5; });
  rejects([](ImpressionParams& p) { p.noise = std::nan(""); });
  EXPECT_THROW(RenderImpression(Master{}, SmallImpression(), 1), std::invalid_argument);
}

TEST(SynthValidation, SetCountsAndSizesAreChecked) {
  auto sink = [](int, int, const Image&) {};
  EXPECT_THROW(GenerateSet(SetParams{0, 1, 7, 64, 64}, sink), std::invalid_argument);
  EXPECT_THROW(GenerateSet(SetParams{1000, 1, 7, 64, 64}, sink), std::invalid_argument);
  EXPECT_THROW(GenerateSet(SetParams{1, 0, 7, 64, 64}, sink), std::invalid_argument);
  EXPECT_THROW(GenerateSet(SetParams{1, 100, 7, 64, 64}, sink), std::invalid_argument);
  EXPECT_THROW(GenerateSet(SetParams{1, 1, 7, 16, 64}, sink), std::invalid_argument);
  EXPECT_THROW(GenerateSet(SetParams{1, 1, 7, 64, 2049}, sink), std::invalid_argument);
}

TEST(SynthNames, SizesParseOnlyInTheirExactForm) {
  int width = 0;
  int height = 0;
  ParseSize("388x374", &width, &height);
  EXPECT_EQ(width, 388);
  EXPECT_EQ(height, 374);
  for (const char* bad :
       {"388", "388x", "x374", "388x374x", "388X374", "31x100", "100x2049", "-388x374", "388 374",
        "", "388x374 ", " 388x374", "+388x374", "388x0374x"}) {
    EXPECT_THROW(ParseSize(bad, &width, &height), std::invalid_argument) << bad;
  }
}

TEST(SynthNames, FileNamesSortByFingerThenImpression) {
  EXPECT_EQ(ImpressionFileName(7, 3), "007_03.png");
  EXPECT_EQ(ImpressionFileName(999, 99), "999_99.png");
  EXPECT_LT(ImpressionFileName(9, 2), ImpressionFileName(10, 1));
}

TEST(SynthMaster, EachClassHasItsSingularPoints) {
  struct Expected {
    FingerClass finger_class;
    int cores;
    int deltas;
  };
  for (const Expected& e :
       {Expected{FingerClass::kArch, 0, 0}, Expected{FingerClass::kTentedArch, 1, 1},
        Expected{FingerClass::kLeftLoop, 1, 1}, Expected{FingerClass::kRightLoop, 1, 1},
        Expected{FingerClass::kWhorl, 2, 2}}) {
    MasterParams params = SmallMaster(e.finger_class);
    params.growth_rounds = 1;
    const Master master = GenerateMaster(params, 3);
    EXPECT_EQ(master.finger_class, e.finger_class);
    int cores = 0;
    int deltas = 0;
    for (const SingularPoint& point : master.singular_points) {
      (point.is_core ? cores : deltas) += 1;
      EXPECT_GT(point.x, 0.0);
      EXPECT_LT(point.x, params.width);
      EXPECT_GT(point.y, 0.0);
      EXPECT_LT(point.y, params.height);
    }
    EXPECT_EQ(cores, e.cores) << FingerClassName(e.finger_class);
    EXPECT_EQ(deltas, e.deltas) << FingerClassName(e.finger_class);
    if (e.finger_class == FingerClass::kLeftLoop || e.finger_class == FingerClass::kRightLoop) {
      const SingularPoint& core = master.singular_points[0];
      const SingularPoint& delta = master.singular_points[1];
      EXPECT_GT(delta.y, core.y);  // deltas lie below the core
      EXPECT_EQ(delta.x > core.x, e.finger_class == FingerClass::kLeftLoop);
    }
  }
}

double DirectionDifference(double a, double b) {
  double d = std::fmod(std::fabs(a - b), kPi);
  return d > kPi / 2 ? kPi - d : d;
}

bool NearSingularPoint(const Master& master, double x, double y, double distance) {
  for (const SingularPoint& point : master.singular_points) {
    if ((point.x - x) * (point.x - x) + (point.y - y) * (point.y - y) < distance * distance) {
      return true;
    }
  }
  return false;
}

// The grown ridges must follow the field they were grown on: per 16 x 16 block, the direction
// of the ridges' gradient structure tensor against the model, and the spacing of ridge crossings
// along the normal against the model's period.
TEST(SynthMaster, RidgesFollowTheModelDirectionAndPeriod) {
  for (FingerClass finger_class :
       {FingerClass::kArch, FingerClass::kLeftLoop, FingerClass::kWhorl}) {
    const Master master = GenerateMaster(SmallMaster(finger_class), 21);
    const int w = master.width;
    auto ridge = [&](int x, int y) { return master.ridges[static_cast<size_t>(y) * w + x]; };
    int blocks = 0;
    int aligned = 0;
    double measured_period = 0.0;
    double model_period = 0.0;
    for (int by = 16; by + 32 <= master.height; by += 16) {
      for (int bx = 16; bx + 32 <= w; bx += 16) {
        const double cx = bx + 8;
        const double cy = by + 8;
        if (NearSingularPoint(master, cx, cy, 24.0)) continue;
        double gxx = 0;
        double gyy = 0;
        double gxy = 0;
        for (int y = by; y < by + 16; ++y) {
          for (int x = bx; x < bx + 16; ++x) {
            const double gx = ridge(x + 1, y) - ridge(x - 1, y);
            const double gy = ridge(x, y + 1) - ridge(x, y - 1);
            gxx += gx * gx;
            gyy += gy * gy;
            gxy += gx * gy;
          }
        }
        const double ridge_direction = 0.5 * std::atan2(2 * gxy, gxx - gyy) + kPi / 2;
        const size_t center = static_cast<size_t>(cy) * w + static_cast<size_t>(cx);
        const double model = master.orientation[center];
        ++blocks;
        aligned += DirectionDifference(ridge_direction, model) < 15.0 * kPi / 180.0;
        // Crossings along the normal over 32 pixels.
        const double nx = -std::sin(model);
        const double ny = std::cos(model);
        int flips = 0;
        bool previous = ridge(static_cast<int>(cx - 16 * nx), static_cast<int>(cy - 16 * ny)) > 0;
        for (int t = -15; t <= 16; ++t) {
          const bool now = ridge(static_cast<int>(cx + t * nx), static_cast<int>(cy + t * ny)) > 0;
          flips += now != previous;
          previous = now;
        }
        measured_period += flips > 0 ? 64.0 / flips : 64.0;
        model_period += master.period[center];
      }
    }
    ASSERT_GT(blocks, 40);
    EXPECT_GT(aligned, blocks * 9 / 10) << FingerClassName(finger_class);
    EXPECT_NEAR(measured_period / model_period, 1.0, 0.12) << FingerClassName(finger_class);
    EXPECT_NEAR(model_period / blocks, 9.0, 1.5);
  }
}

TEST(SynthImpression, HasTheRequestedSizeAndAFullGreyRange) {
  const Master master = GenerateMaster(MasterParams{}, MasterSeed(7, 1));
  const Image image = RenderImpression(master, ImpressionParams{}, ImpressionSeed(7, 1, 1));
  ASSERT_EQ(image.width, 388);
  ASSERT_EQ(image.height, 374);
  ASSERT_EQ(image.pixels.size(), 388u * 374u);
  int dark = 0;
  int light = 0;
  for (uint8_t value : image.pixels) {
    dark += value < 100;
    light += value > 180;
  }
  const int total = static_cast<int>(image.pixels.size());
  // Ridges cover about half of the contact area, which covers a third or more of the sensor;
  // the rest is valleys and background.
  EXPECT_GT(dark, total / 10);
  EXPECT_LT(dark, total / 2);
  EXPECT_GT(light, total / 3);
}

// With no motion, distortion or noise, the sensor's centre shows the master's centre: dark
// pixels sit on the master's ridges.
TEST(SynthImpression, StillFingerShowsTheMasterRidgesInPlace) {
  const Master master = GenerateMaster(SmallMaster(FingerClass::kRightLoop), 4);
  ImpressionParams params{120, 120, 0.0, 0.0, 0.0, 0.0};
  const Image image = RenderImpression(master, params, 8);
  int agree = 0;
  int total = 0;
  for (int y = 40; y < 80; ++y) {
    for (int x = 40; x < 80; ++x) {
      const int mx = x - 60 + static_cast<int>(master.center_x);
      const int my = y - 60 + static_cast<int>(master.center_y);
      const int16_t ridge = master.ridges[static_cast<size_t>(my) * master.width + mx];
      if (std::abs(ridge) < Master::kRidgeOne / 2) continue;  // ridge flanks follow pressure
      ++total;
      agree += (ridge > 0) == (image.at(x, y) < 128);
    }
  }
  ASSERT_GT(total, 800);
  EXPECT_GT(agree, total * 95 / 100);
}

TEST(SynthPng, WritesGreyPixelsThatReadBackUnchanged) {
  Image image;
  image.width = 37;
  image.height = 5;
  for (int i = 0; i < 37 * 5; ++i) image.pixels.push_back(static_cast<uint8_t>(i * 7));
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "ridgeline_synth_png_test.png";
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                         std::fclose);
    WritePng(file.get(), path.string(), image);
  }
  png_image read;
  std::memset(&read, 0, sizeof read);
  read.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&read, path.string().c_str()));
  EXPECT_EQ(read.width, 37u);
  EXPECT_EQ(read.height, 5u);
  EXPECT_EQ(read.format, static_cast<png_uint_32>(PNG_FORMAT_GRAY));
  std::vector<uint8_t> pixels(37 * 5);
  ASSERT_TRUE(png_image_finish_read(&read, nullptr, pixels.data(), 0, nullptr));
  EXPECT_EQ(pixels, image.pixels);
  std::filesystem::remove(path);

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> full(std::fopen("/dev/full", "wb"), std::fclose);
  ASSERT_TRUE(full);
  EXPECT_THROW(WritePng(full.get(), "/dev/full", image), std::runtime_error);
  image.pixels.pop_back();
  EXPECT_THROW(WritePng(full.get(), "/dev/full", image), std::runtime_error);
}

}  // namespace
}  // namespace ridgeline::synth
