// Export of the engine's features as standard records, checked against another extractor's
// records of the same images (positions, angle convention, resolution), and the engine's own
// item: a record written and read back compares exactly as the compact template does.
#include "engine/record_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/print_image.h"
#include "tests/support/shared_data.h"
#include "tools/image/background_trim.h"

namespace ridgeline {
namespace {

using tools::PrintImage;

std::filesystem::path Shared() { return ridgeline::testing::SharedDir(); }

std::vector<uint8_t> Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Accepts an image at 500 ppi, trimmed as the tools trim it, and exports it.
struct Exported {
  AcceptedSample sample;
  StandardRecord record;
  std::vector<uint8_t> bytes;
};

Exported ExportImage(Engine& engine, const PrintImage& image, RecordFormat format,
                     bool engine_item = true) {
  const tools::TrimBox box = tools::FindPrintBox(image);
  std::vector<uint8_t> trimmed;
  for (int y = box.top; y < box.top + box.height; ++y) {
    const uint8_t* row = &image.pixels[static_cast<size_t>(y) * image.width];
    trimmed.insert(trimmed.end(), row + box.left, row + box.left + box.width);
  }
  Exported out;
  EXPECT_EQ(engine.Accept(trimmed, box.width, box.height, &out.sample), AcceptStatus::kAccepted);
  RecordExportOptions options;
  options.format = format;
  options.frame.trim_x = box.left;
  options.frame.trim_y = box.top;
  options.input_width = image.width;
  options.input_height = image.height;
  options.finger_position = 7;
  options.engine_item = engine_item;
  RecordExportReport report;
  std::string error;
  EXPECT_TRUE(ExportRecord(engine, out.sample, options, &out.record, &report, &error)) << error;
  EXPECT_TRUE(WriteStandardRecord(out.record, &out.bytes, &error)) << error;
  return out;
}

double AngleGap(double a, double b) {
  const double d = std::fmod(std::abs(a - b), 360.0);
  return std::min(d, 360.0 - d);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 1e9;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

TEST(RecordExportTest, AgreesWithAnotherExtractorsRecordsOfTheSameImages) {
  const std::filesystem::path dir = Shared() / "interop/fjfx";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no outside records in " << dir;
  auto engine = Engine::Create();
  ASSERT_TRUE(engine);
  for (const char* name :
       {"a001_03p", "a001_04p", "a001_05p", "a001_06p", "a001_07p", "a004_05p"}) {
    SCOPED_TRACE(name);
    const PrintImage image =
        tools::ReadPrintImage(dir / "images-pgm" / (std::string(name) + ".pgm"));
    StandardRecord theirs;
    std::string error;
    ASSERT_TRUE(ReadStandardRecord(Slurp(dir / "templates-iso" / (std::string(name) + ".ist")),
                                   RecordReadMode::kStrict, &theirs, &error))
        << error;
    const Exported ours = ExportImage(*engine, image, RecordFormat::kIso19794_2_2005);
    const FingerView& view = ours.record.views.at(0);
    EXPECT_EQ(view.width, theirs.views[0].width);
    EXPECT_EQ(view.height, theirs.views[0].height);
    EXPECT_EQ(view.x_resolution, theirs.views[0].x_resolution);
    // Pairs within 10 pixels, closest first, each minutia used once.
    struct Candidate {
      double distance;
      size_t a, b;
    };
    std::vector<Candidate> candidates;
    for (size_t a = 0; a < theirs.views[0].minutiae.size(); ++a) {
      for (size_t b = 0; b < view.minutiae.size(); ++b) {
        const double d = std::hypot(theirs.views[0].minutiae[a].x - view.minutiae[b].x,
                                    theirs.views[0].minutiae[a].y - view.minutiae[b].y);
        if (d <= 10) candidates.push_back({d, a, b});
      }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& l, const Candidate& r) { return l.distance < r.distance; });
    std::vector<bool> used_a(theirs.views[0].minutiae.size()), used_b(view.minutiae.size());
    std::vector<double> offsets, angles, same_type_angles;
    for (const Candidate& c : candidates) {
      if (used_a[c.a] || used_b[c.b]) continue;
      used_a[c.a] = used_b[c.b] = true;
      offsets.push_back(c.distance);
      const RecordMinutia& t = theirs.views[0].minutiae[c.a];
      const RecordMinutia& o = view.minutiae[c.b];
      angles.push_back(AngleGap(t.angle, o.angle));
      if (t.kind == o.kind) same_type_angles.push_back(AngleGap(t.angle, o.angle));
    }
    std::printf(
        "%s: %zu of %zu paired (ours %zu), median offset %.2f px, median angle %.1f deg "
        "(same type %.1f, %zu pairs)\n",
        name, offsets.size(), theirs.views[0].minutiae.size(), view.minutiae.size(),
        Median(offsets), Median(angles), Median(same_type_angles), same_type_angles.size());
    // Two extractors place minutiae differently (ours sit about 1 pixel further along an
    // ending's direction and 3 pixels back toward a bifurcation's stem), so the pairs spread by
    // about 3 pixels; a trim offset, a resolution slip or a flipped axis moves them by tens of
    // pixels, and a reversed or mirrored angle convention by 90 to 180 degrees.
    EXPECT_GE(offsets.size() * 5, theirs.views[0].minutiae.size() * 2);
    EXPECT_LT(Median(offsets), 3.5);
    EXPECT_LT(Median(angles), 15.0);
  }
}

TEST(RecordExportTest, RecordsReadBackCompareExactlyAsTheCompactTemplate) {
  const std::filesystem::path dir = Shared() / "data/fvc2002/DB1_B";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no prints in " << dir;
  auto engine = Engine::Create();
  ASSERT_TRUE(engine);
  const char* names[] = {"101_1.tif", "101_2.tif", "102_1.tif", "103_3.tif"};
  std::vector<Exported> exported;
  for (const char* name : names) {
    exported.push_back(
        ExportImage(*engine, tools::ReadPrintImage(dir / name), RecordFormat::kAnsi378_2009));
  }
  int compared = 0;
  for (size_t p = 0; p < exported.size(); ++p) {
    for (size_t r = 0; r < exported.size(); ++r) {
      if (p == r) continue;
      const EncodedTemplate stored = engine->EncodeTemplate(exported[r].sample.features);
      FeaturePair reference;
      ASSERT_TRUE(engine->DecodeTemplate(stored.bytes, &reference));
      const int expected = engine->Compare(*exported[p].sample.features.set(), *reference.set());

      StandardRecord read;
      std::string error;
      ASSERT_TRUE(ReadStandardRecord(exported[r].bytes, RecordReadMode::kStrict, &read, &error))
          << error;
      FeaturePair imported;
      bool from_item = false;
      ASSERT_TRUE(ImportView(*engine, read.views[0], &imported, &from_item, &error)) << error;
      EXPECT_TRUE(from_item);
      EXPECT_EQ(engine->Compare(*exported[p].sample.features.set(), *imported.set()), expected);
      ++compared;
    }
  }
  EXPECT_EQ(compared, 12);
}

TEST(RecordExportTest, CapsKeepTheMostReliableMinutiaeAndDropTheItemFirst) {
  const std::filesystem::path path = Shared() / "data/fvc2002/DB1_B/101_1.tif";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no print " << path;
  auto engine = Engine::Create();
  const PrintImage image = tools::ReadPrintImage(path);
  const Exported full = ExportImage(*engine, image, RecordFormat::kIso19794_2_2005);
  RecordExportOptions options;
  options.input_width = image.width;
  options.input_height = image.height;
  options.max_bytes = 24 + 4 + 2 + 6 * 20;  // room for 20 minutiae and no item
  StandardRecord capped;
  RecordExportReport report;
  std::string error;
  ASSERT_TRUE(ExportRecord(*engine, full.sample, options, &capped, &report, &error)) << error;
  EXPECT_FALSE(report.engine_item_written);
  EXPECT_EQ(report.minutiae_written, 20);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(WriteStandardRecord(capped, &bytes, &error));
  EXPECT_EQ(bytes.size(), options.max_bytes);
  // The kept ones have the smallest variations of all found.
  const FeatureSet& set = *full.sample.features.set();
  std::vector<int> variations(set.Variation, set.Variation + set.Count);
  std::sort(variations.begin(), variations.end());
  int kept_max = 0;
  for (const RecordMinutia& m : capped.views[0].minutiae) {
    for (int i = 0; i < set.Count; ++i) {
      if (EngineToInputX(set.X[i], full.sample.crop_x, options.frame) == m.x &&
          EngineToInputY(set.Y[i], full.sample.crop_y, options.frame) == m.y) {
        kept_max = std::max(kept_max, int{set.Variation[i]});
      }
    }
  }
  EXPECT_LE(kept_max, variations[19]);
  options.max_bytes = 20;
  EXPECT_FALSE(ExportRecord(*engine, full.sample, options, &capped, &report, &error));
}

}  // namespace
}  // namespace ridgeline

namespace ridgeline {
namespace {

TEST(FeatureFrameTest, InputPositionsUndoTrimAndResolution) {
  CaptureFrame frame;
  frame.trim_x = 30;
  frame.trim_y = 7;
  for (int e : {0, 1, 10, 549, 1000}) {
    EXPECT_EQ(EngineToInputX(e, 0, frame), WorkingToCapture(e) + 30);
    EXPECT_EQ(EngineToInputY(e, 16, frame), WorkingToCapture(e + 16) + 7);
    // Back to the engine frame within the rounding of one working pixel.
    EXPECT_NEAR(InputToEngine(WorkingToCapture(e), kSensorResolution), e, 1);
  }
  frame.ppi = 1000;  // the trim was made after the image was brought to 500 ppi
  EXPECT_EQ(EngineToInputX(550, 0, frame), SourcePosition(500 + 30, 1000, 500));
  EXPECT_NEAR(EngineToInputX(550, 0, frame), 2 * 530, 1);
  EXPECT_EQ(InputToEngine(1000, 1000), 550);
  EXPECT_EQ(PixelsPerCentimetre(500), 197);
  EXPECT_EQ(PixelsPerInch(197), 500);
  EXPECT_EQ(PixelsPerCentimetre(569), 224);
  for (int a = 0; a < 360; ++a) EXPECT_EQ(EngineAngleFromStandard(StandardAngle(a)), a);
}

TEST(RecordImportTest, AForeignRecordLandsOnTheEngineFrameWithAMapRebuiltFromItsMinutiae) {
  const std::filesystem::path path = Shared() / "data/fvc2002/DB1_B/101_1.tif";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no print " << path;
  auto engine = Engine::Create();
  const PrintImage image = tools::ReadPrintImage(path);
  const Exported plain =
      ExportImage(*engine, image, RecordFormat::kIso19794_2_2011, /*engine_item=*/false);
  StandardRecord read;
  std::string error;
  ASSERT_TRUE(ReadStandardRecord(plain.bytes, RecordReadMode::kStrict, &read, &error)) << error;
  FeaturePair imported;
  bool from_item = true;
  ASSERT_TRUE(ImportView(*engine, read.views[0], &imported, &from_item, &error)) << error;
  EXPECT_FALSE(from_item);
  const FeatureSet& set = *imported.set();
  const FeatureSet& own = *plain.sample.features.set();
  ASSERT_EQ(set.Count, own.Count);
  const tools::TrimBox box = tools::FindPrintBox(image);
  for (int i = 0; i < set.Count; ++i) {
    // The engine's own minutiae, shifted by its crop and by the trim (in working pixels).
    const int x = own.X[i] + plain.sample.crop_x + box.left * kEngineResolution / kSensorResolution;
    const int y = own.Y[i] + plain.sample.crop_y + box.top * kEngineResolution / kSensorResolution;
    EXPECT_NEAR(set.X[i], x, 2);
    EXPECT_NEAR(set.Y[i], y, 2);
    EXPECT_LE(std::abs(set.Angle[i] - own.Angle[i]) % 358, 1);
    EXPECT_EQ(set.Type[i], own.Type[i]);
  }
  // The rebuilt block map agrees with the engine's own where both have ridges (the maps are
  // offset by the crop and trim in whole working pixels, so compare block by nearest block).
  const int shift_x = (plain.sample.crop_x + box.left * kEngineResolution / kSensorResolution);
  const int shift_y = (plain.sample.crop_y + box.top * kEngineResolution / kSensorResolution);
  int both = 0, agree = 0, rebuilt = 0;
  for (int r = 0; r < set.BlockRows; ++r) {
    for (int c = 0; c < set.BlockCols; ++c) {
      const int code = set.DirectionMap[r][c];
      if ((code & 0x7F) == 0x7F) continue;
      ++rebuilt;
      const int orow = (16 * r + 8 - shift_y) / 16, ocol = (16 * c + 8 - shift_x) / 16;
      if (16 * r + 8 < shift_y || 16 * c + 8 < shift_x || orow >= own.BlockRows ||
          ocol >= own.BlockCols) {
        continue;
      }
      const int theirs = own.DirectionMap[orow][ocol];
      if ((theirs & 0x7F) == 0x7F || theirs >= 120) continue;
      ++both;
      int d = std::abs(code - theirs) * 3 / 2;
      if (d > 90) d = 180 - d;
      agree += d <= 30;
    }
  }
  EXPECT_GT(rebuilt, 20);
  EXPECT_GT(agree * 10, both * 7) << agree << " of " << both;
  // A damaged engine item is skipped: the standard minutiae are used.
  const int count = set.Count;
  FingerView damaged = read.views[0];
  damaged.extended.push_back({kRidgelineItem, {kRidgelineItemFormat, 0, 0, 0, 0, 1, 2, 3}});
  ASSERT_TRUE(ImportView(*engine, damaged, &imported, &from_item, &error));
  EXPECT_FALSE(from_item);
  EXPECT_EQ(imported.set()->Count, count);
}

}  // namespace
}  // namespace ridgeline
