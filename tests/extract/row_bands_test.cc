// Row bands: every stage the pipeline runs in bands, and the whole extraction, give the same
// bytes for 1, 2, 3 and many bands (more than the rows included) as on the whole image, on
// random images of awkward sizes and on the golden prints; and the worker runs every band once
// and reports a failing or throwing one.
#include "extract/row_bands.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/engine_params.h"
#include "engine/engine.h"
#include "extract/binary_resmoothing.h"
#include "extract/extraction_pipeline.h"
#include "extract/features_extraction.h"
#include "extract/oriented_smoothing.h"
#include "extract/pixel_direction.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"
#include "tests/support/sanitizer_build.h"
#include "tests/support/shared_data.h"

namespace ridgeline {
namespace {

using testing::TestImage;

constexpr int kManyBands = 1000;  // more than the rows of any image here
const int kBandCounts[] = {2, 3, 5, kManyBands};
// On whole prints a band count near the rows costs a whole extraction per band and halo: the
// small synthetic prints above take that case, the prints a few counts. A sanitizer build runs
// some ten times slower and extracts two prints in two bands only.
const std::vector<int> kPrintBandCounts =
    testing::kSanitizedBuild ? std::vector<int>{2} : std::vector<int>{2, 3, 7};
size_t PrintsToRun(size_t available) {
  return testing::kSanitizedBuild ? std::min<size_t>(available, 2) : available;
}

// A copy of image, pixel for pixel.
std::unique_ptr<TestImage> Copy(const TestImage& image) {
  return std::make_unique<TestImage>(image.width(), image.height(),
                                     [&](int x, int y) { return image.get()[y][x]; });
}

void ExpectSameImage(const TestImage& expected, const TestImage& got, const std::string& what) {
  for (int y = 0; y < expected.height(); ++y) {
    ASSERT_EQ(std::memcmp(expected.get()[y], got.get()[y], static_cast<size_t>(got.width())), 0)
        << what << ": first difference in row " << y << " of " << expected.width() << " x "
        << expected.height();
  }
}

TEST(BandOf, OwnRowsSplitTheImageWithoutAnEmptyBandAndSubImagesStayInside) {
  for (int height : {1, 2, 7, 34, 411}) {
    for (int bands = 1; bands <= height && bands <= 40; ++bands) {
      int next = 0;
      for (int band = 0; band < bands; ++band) {
        const BandRows rows = BandOf(height, bands, band, 13);
        EXPECT_EQ(rows.own_begin, next);
        EXPECT_GT(rows.own_end, rows.own_begin) << "an empty band of " << bands;
        EXPECT_TRUE(rows.sub_begin >= 0 && rows.sub_end <= height);
        next = rows.own_end;
      }
      EXPECT_EQ(next, height);
    }
  }
}

TEST(BandWorker, RunsEveryTaskOnceAndReportsFailingAndThrowingTasks) {
  BandWorker worker;
  for (int count : {0, 1, 2, 3, 17, 200}) {
    std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
    EXPECT_TRUE(worker.Run(count, [&](int i) {
      runs[static_cast<size_t>(i)].fetch_add(1);
      return true;
    }));
    for (int i = 0; i < count; ++i) EXPECT_EQ(runs[static_cast<size_t>(i)].load(), 1) << i;
  }
  std::atomic<int> ran{0};
  EXPECT_FALSE(worker.Run(9, [&](int i) {
    ran.fetch_add(1);
    return i != 4;
  }));
  EXPECT_EQ(ran.load(), 9);
  EXPECT_FALSE(worker.Run(4, [&](int i) -> bool {
    if (i == 1) throw std::runtime_error("band failed");
    return true;
  }));
  // The worker is still there for the next job.
  EXPECT_TRUE(worker.Run(5, [](int) { return true; }));
}

// Random images: grey, binary (the re-smoothing's input) and direction codes with the
// background bit, the no-direction code and the codes 120..126 among them.
class RandomImages {
 public:
  explicit RandomImages(uint32_t seed) : rng_(seed) {}

  std::unique_ptr<TestImage> Grey(int w, int h) {
    std::uniform_int_distribution<int> v(0, 255);
    return std::make_unique<TestImage>(w, h,
                                       [&](int, int) { return static_cast<uint8_t>(v(rng_)); });
  }
  std::unique_ptr<TestImage> Binary(int w, int h) {
    std::bernoulli_distribution white(0.5);
    return std::make_unique<TestImage>(
        w, h, [&](int, int) { return white(rng_) ? uint8_t{255} : uint8_t{0}; });
  }
  std::unique_ptr<TestImage> Directions(int w, int h) {
    std::uniform_int_distribution<int> code(0, 130);
    std::bernoulli_distribution background(0.2);
    return std::make_unique<TestImage>(w, h, [&](int, int) {
      const int c = code(rng_);
      const int value = c > 127 ? kNoDirection : c;
      return static_cast<uint8_t>(value | (background(rng_) ? kBackgroundBit : 0));
    });
  }

 private:
  std::mt19937 rng_;
};

// Runs stage once on copies of the inputs whole and once per band count, and expects every
// image the same.
template <typename Stage>
void ExpectBandsAgree(const std::vector<const TestImage*>& inputs, Stage&& stage,
                      const std::string& what) {
  const int w = inputs.front()->width();
  const int h = inputs.front()->height();
  auto run = [&](int bands) {
    std::vector<std::unique_ptr<TestImage>> images;
    for (const TestImage* input : inputs) images.push_back(Copy(*input));
    RowBands row_bands(bands);
    EXPECT_TRUE(stage(row_bands, w, h, images)) << what << " with " << bands << " bands";
    return images;
  };
  const auto whole = run(1);
  for (int bands : kBandCounts) {
    const auto banded = run(bands);
    for (size_t i = 0; i < whole.size(); ++i) {
      ExpectSameImage(
          *whole[i], *banded[i],
          what + " image " + std::to_string(i) + ", " + std::to_string(bands) + " bands");
    }
  }
}

using Images = std::vector<std::unique_ptr<TestImage>>;

// Sizes around the halos (13 to 42 rows): below twice the halo, 1-3 rows a band, one column.
const int kSizes[][2] = {{1, 1}, {1, 60}, {5, 2}, {9, 25}, {33, 27}, {17, 85}, {40, 131}, {3, 200}};

TEST(StagesInBands, GiveTheWholeImageResultOnRandomImagesOfAwkwardSizes) {
  RandomImages random(20);
  const EngineParams params = DefaultEngineParams();
  for (const auto& size : kSizes) {
    const int w = size[0];
    const int h = size[1];
    // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict) on a literal + std::string here.
    std::string at = " ";
    at.append(std::to_string(w)).append(" x ").append(std::to_string(h));
    const auto grey = random.Grey(w, h);
    const auto binary = random.Binary(w, h);
    const auto directions = random.Directions(w, h);
    const auto levels = random.Grey(w, h);
    ExpectBandsAgree(
        {grey.get(), directions.get()},
        [&](RowBands& bands, int width, int height, Images& im) {
          return SmoothAndEstimateDirectionsInBands(bands, width, height, im[0]->get(),
                                                    im[1]->get(), params.PixelContrastThreshold);
        },
        "oriented smoothing and pixel directions" + at);
    // The adaptive binarisation with the default windows and wider ones, and the plain one.
    for (const auto& windows : {std::array{3, 5, 7}, std::array{1, 9, 12}, std::array{0, 0, 0}}) {
      EngineParams p = params;
      p.BinWindowSmall = windows[0];
      p.BinWindowMedium = windows[1];
      p.BinWindowLarge = windows[2];
      p.AdaptiveBinarization = windows[2] == 0 ? 0 : 1;
      const std::string named = ", windows " + std::to_string(windows[0]) + " " +
                                std::to_string(windows[1]) + " " + std::to_string(windows[2]) + at;
      ExpectBandsAgree(
          {grey.get(), levels.get(), directions.get()},
          [&](RowBands& bands, int width, int height, Images& im) {
            return BinarizeFirstInBands(bands, &p, width, height, im[0]->get(), im[1]->get(),
                                        im[2]->get());
          },
          "first binarisation" + named);
      for (bool binarize : {true, false}) {
        ExpectBandsAgree(
            {grey.get(), levels.get()},
            [&](RowBands& bands, int width, int height, Images& im) {
              return BinarizeAndFilterInBands(bands, &p, width, height, im[0]->get(), im[1]->get(),
                                              binarize);
            },
            std::string(binarize ? "second binarisation and " : "") + "majority filter" + named);
      }
    }
    for (int passes : {1, 2, 3}) {
      EngineParams p = params;
      p.BinarySmoothPasses = passes;
      ExpectBandsAgree(
          {binary.get()},
          [&](RowBands& bands, int width, int height, Images& im) {
            return ReSmoothBinaryInBands(bands, &p, width, height, im[0]->get());
          },
          "binary re-smoothing, " + std::to_string(passes) + " passes" + at);
    }
    // Singular points inside, on the edge and far outside the image.
    SingularPointList points{};
    points.Count = 3;
    points.X[0] = static_cast<int16_t>(w / 2), points.Y[0] = static_cast<int16_t>(h / 2);
    points.X[1] = 0, points.Y[1] = static_cast<int16_t>(h - 1);
    points.X[2] = 1, points.Y[2] = -32000;
    ExpectBandsAgree(
        {grey.get(), directions.get(), levels.get()},
        [&](RowBands& bands, int width, int height, Images& im) {
          return RefreshDirectionsInBands(bands, &params, width, height, im[0]->get(), im[1]->get(),
                                          im[2]->get(), points);
        },
        "direction refresh" + at);
    ExpectBandsAgree(
        {grey.get(), directions.get(), levels.get()},
        [&](RowBands& bands, int width, int height, Images& im) {
          return LevelSmoothInBands(bands, width, height, im[0]->get(), im[1]->get(), im[2]->get());
        },
        "level smoothing" + at);
    // Every pixel due all seven rounds along one direction: the rounds carry a change the
    // furthest, seven kernel reaches.
    const auto all_due = std::make_unique<TestImage>(w, h, uint8_t{7});
    for (int code = 0; code < kDirectionSteps; code += 15) {
      const auto one_direction = std::make_unique<TestImage>(w, h, static_cast<uint8_t>(code));
      ExpectBandsAgree(
          {grey.get(), one_direction.get(), all_due.get()},
          [&](RowBands& bands, int width, int height, Images& im) {
            return LevelSmoothInBands(bands, width, height, im[0]->get(), im[1]->get(),
                                      im[2]->get());
          },
          "level smoothing, 7 rounds along code " + std::to_string(code) + at);
    }
  }
}

// Everything one pipeline run gives: the result record, the mean isotropy, the image as the
// pipeline leaves it and the exported mask.
struct PipelineOutput {
  int mean_isotropy = 0;
  std::unique_ptr<ExtractionResult> result;
  std::unique_ptr<TestImage> image;
  std::unique_ptr<TestImage> mask;
};

PipelineOutput RunPipeline(const TestImage& input, int bands) {
  PipelineOutput out;
  out.result = std::make_unique<ExtractionResult>();
  out.image = Copy(input);
  out.mask = std::make_unique<TestImage>(input.width(), input.height());
  EngineParams params = DefaultEngineParams();
  params.ExportMask = 1;
  params.MaskImage = out.mask->get();
  out.mean_isotropy = RunExtractionPipeline(&params, input.width(), input.height(),
                                            out.image->get(), out.result.get(), bands);
  return out;
}

void ExpectPipelineAgrees(const TestImage& input, const std::string& what,
                          std::span<const int> band_counts = kBandCounts) {
  const PipelineOutput whole = RunPipeline(input, 1);
  ASSERT_GE(whole.mean_isotropy, 0) << what;
  for (int bands : band_counts) {
    const std::string with = what + ", " + std::to_string(bands) + " bands";
    const PipelineOutput banded = RunPipeline(input, bands);
    EXPECT_EQ(banded.mean_isotropy, whole.mean_isotropy) << with;
    EXPECT_EQ(std::memcmp(banded.result.get(), whole.result.get(), sizeof(ExtractionResult)), 0)
        << with << ": the result records differ";
    ExpectSameImage(*whole.image, *banded.image, with + ", final image");
    ExpectSameImage(*whole.mask, *banded.mask, with + ", mask");
  }
}

TEST(PipelineInBands, GivesTheSameResultOnSmallAndOddSyntheticPrints) {
  // Ridges at an angle with noise, at the smallest sizes the pipeline takes and a few odd ones.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-30, 30);
  for (const auto& size :
       {std::pair{34, 34}, std::pair{35, 97}, std::pair{101, 34}, std::pair{77, 150}}) {
    const TestImage print(size.first, size.second, [&](int x, int y) {
      const double ridge = std::sin((x * 0.8 + y * 0.6) * 0.7 + 0.002 * x * y);
      return static_cast<uint8_t>(
          std::clamp(128 + static_cast<int>(90 * ridge) + noise(rng), 0, 255));
    });
    ExpectPipelineAgrees(
        print, "synthetic " + std::to_string(size.first) + " x " + std::to_string(size.second));
  }
}

TEST(PipelineInBands, GivesTheSameResultOnTheGoldenPrints) {
  const auto prints = testing::GoldenStageImages("01_resampled.pgm");
  if (prints.empty()) GTEST_SKIP() << "no golden data in " << testing::GoldenDir();
  for (size_t i = 0; i < PrintsToRun(prints.size()); ++i) {
    ExpectPipelineAgrees(*prints[i], "golden print " + std::to_string(i), kPrintBandCounts);
  }
}

TEST(PipelineInBands, TheEngineEncodesTheSameTemplateWithAnyBandCount) {
  const auto sources = testing::GoldenStageImages("00_source.pgm");
  if (sources.empty()) GTEST_SKIP() << "no golden data in " << testing::GoldenDir();
  for (size_t i = 0; i < PrintsToRun(sources.size()); ++i) {
    const TestImage& source = *sources[i];
    std::vector<uint8_t> pixels;
    for (int y = 0; y < source.height(); ++y) {
      pixels.insert(pixels.end(), source.get()[y], source.get()[y] + source.width());
    }
    auto encode = [&](int bands) {
      const std::unique_ptr<Engine> engine = Engine::Create();
      EXPECT_NE(engine, nullptr);
      engine->SetExtractionBands(bands);
      AcceptedSample sample;
      EXPECT_EQ(engine->Accept(pixels, source.width(), source.height(), &sample),
                AcceptStatus::kAccepted);
      return engine->EncodeTemplate(sample.features).bytes;
    };
    const std::vector<uint8_t> whole = encode(1);
    EXPECT_FALSE(whole.empty());
    for (int bands : kPrintBandCounts) {
      EXPECT_EQ(encode(bands), whole) << "golden print " << i << ", " << bands << " bands";
    }
  }
}

}  // namespace
}  // namespace ridgeline
