// The skeleton stages find their candidates by word scans and a crossing-number table; each is
// checked here against the pixel-by-pixel sweep it replaced, on the golden skeletons and on
// random skeletons of odd sizes (the scans must see every change an earlier repair made).
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/constants.h"
#include "core/folded_angle.h"
#include "core/int_math.h"
#include "extract/byte_words.h"
#include "extract/crossing_scan.h"
#include "extract/minutiae_detect.h"
#include "extract/ridge_trace.h"
#include "extract/skeleton_repair.h"
#include "extract/step_line.h"
#include "extract/thinning.h"
#include "tests/support/golden_images.h"
#include "tests/support/images.h"

namespace ridgeline {
namespace {

using testing::TestImage;

// The crossing number as first written: going round the neighbours, counting the white pixels
// followed by a black one.
int ReferenceCrossingNumber(const ImageView& sk, int x, int y) {
  int changes = 0;
  bool previous_black = IsRidge(sk, x + kRoundNeighbours[7].x, y + kRoundNeighbours[7].y);
  for (const PixelPoint& n : kRoundNeighbours) {
    const bool black = IsRidge(sk, x + n.x, y + n.y);
    if (black && !previous_black) ++changes;
    previous_black = black;
  }
  return changes;
}

TEST(NeighbourTables, CrossingNumberAndNextStepOfEveryNeighbourhood) {
  TestImage image(3, 3, 255);
  for (int code = 0; code < 256; ++code) {
    for (int bit = 0; bit < 8; ++bit) {
      image.at(1 + kNeighbourDx[static_cast<size_t>(bit)],
               1 + kNeighbourDy[static_cast<size_t>(bit)]) =
          static_cast<uint8_t>(((code >> bit) & 1) != 0 ? 0 : 255);
    }
    for (uint8_t centre : {0, 255}) {
      image.at(1, 1) = centre;
      ASSERT_EQ(CrossingNumber(image.view(), 1, 1), ReferenceCrossingNumber(image.view(), 1, 1))
          << "code " << code;
    }
    // A step moves to the first black neighbour in the step order, or stays.
    PixelPoint want{1, 1};
    for (const PixelPoint& n : kStepOrder) {
      if (IsRidge(image.view(), 1 + n.x, 1 + n.y)) {
        want = {1 + n.x, 1 + n.y};
        break;
      }
    }
    image.at(1, 1) = 0;
    RidgeTrace trace;
    trace.x = trace.y = 1;
    ASSERT_TRUE(StepRidge(image.view(), &trace, false));
    EXPECT_EQ(PixelPoint({trace.x, trace.y}), want) << "code " << code;
    EXPECT_EQ(image.at(1, 1), 255);
  }
}

TEST(ByteWordScans, FindTheFirstMarkedByteOfEveryRange) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 40);
    std::vector<uint8_t> row(static_cast<size_t>(n)), direction(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      // Sparse zeros among values that differ from 0 in one bit only, the case a carry between
      // bytes would get wrong; direction bytes with and without the background bit.
      row[static_cast<size_t>(i)] =
          rng() % 5 == 0 ? 0 : static_cast<uint8_t>(rng() % 2 ? 1u << (rng() % 8) : rng() % 256);
      direction[static_cast<size_t>(i)] = static_cast<uint8_t>(rng());
    }
    for (int from = 0; from <= n; ++from) {
      for (int end = from; end <= n; ++end) {
        int zero = from;
        while (zero < end && row[static_cast<size_t>(zero)] != 0) ++zero;
        int foreground = from;
        while (foreground < end && (row[static_cast<size_t>(foreground)] != 0 ||
                                    (direction[static_cast<size_t>(foreground)] & 0x80) != 0)) {
          ++foreground;
        }
        ASSERT_EQ(NextZero(row.data(), from, end), zero) << from << ".." << end;
        ASSERT_EQ(NextForegroundZero(row.data(), direction.data(), from, end), foreground)
            << from << ".." << end;
      }
    }
  }
}

// NextCrossing against the sweep it replaces, on every row, start and a few ends of random
// images dense enough for every crossing number, for each set of wanted marks: runs of 16 that
// end inside, at and past the range, and ridge pixels on the background (never found).
TEST(ByteWordScans, NextCrossingFindsTheFirstWantedCrossingOfEveryRange) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 40; ++trial) {
    const int w = 3 + static_cast<int>(rng() % 70), h = 3 + static_cast<int>(rng() % 6);
    const unsigned density = 2 + rng() % 4;
    const TestImage skeleton(w, h, [&](int, int) { return rng() % density == 0 ? 0 : 255; });
    const TestImage direction(w, h, [&](int, int) { return static_cast<uint8_t>(rng()); });
    const ImageView sk = skeleton.view();
    for (const uint8_t wanted :
         {kEndingMark, kBifurcationMark, static_cast<uint8_t>(kEndingMark | kBifurcationMark)}) {
      for (int y = 1; y <= h - 2; ++y) {
        for (int end : {w - 1, w / 2, 17}) {
          end = std::min(std::max(end, 1), w - 1);
          for (int from = 1; from <= end; ++from) {
            int want = from;
            for (; want < end; ++want) {
              if (!IsRidge(sk, want, y) || (direction.get()[y][want] & kBackgroundBit) != 0) {
                continue;
              }
              const int crossing = ReferenceCrossingNumber(sk, want, y);
              if (((wanted & kEndingMark) != 0 && crossing == 1) ||
                  ((wanted & kBifurcationMark) != 0 && crossing == 3)) {
                break;
              }
            }
            ASSERT_EQ(NextCrossing(sk, direction.get()[y], y, from, end, wanted), want)
                << w << " x " << h << " row " << y << " " << from << ".." << end << " wanted "
                << int{wanted};
          }
        }
      }
    }
  }
}

// The stages as plainly written: every pixel of the sweep tested in turn.
std::optional<PixelPoint> ReferenceFacingEnding(const ImageView& sk, int x, int y, int ahead,
                                                int radius) {
  constexpr int kTraceSteps = 10, kMinTraceSteps = 3, kAlignment = 164;
  for (int v = std::max(1, y - radius); v <= std::min(y + radius, sk.height - 2); ++v) {
    for (int u = std::max(1, x - radius); u <= std::min(x + radius, sk.width - 2); ++u) {
      if (!IsRidge(sk, u, v) || ReferenceCrossingNumber(sk, u, v) != 1) continue;
      if (!PathClear(x, y, u, v, sk)) continue;
      const int towards = LineAngle(x, y, u, v);
      if (FoldedAngle(towards - ahead) <= kAlignment) continue;
      const RidgeTrace partner = TraceRidge(sk, u, v, kTraceSteps);
      RestoreRidge(sk, partner);
      if (partner.steps <= kMinTraceSteps) continue;
      const int back = LineAngle(u, v, partner.x, partner.y);
      if (FoldedAngle(back - (towards + 180) % 360) <= kAlignment) continue;
      return PixelPoint{u, v};
    }
  }
  return std::nullopt;
}

bool Foreground(const TestImage& direction, int x, int y) {
  return (direction.get()[y][x] & kBackgroundBit) == 0;
}

int ReferenceBridge(TestImage& skeleton, const TestImage& direction) {
  const ImageView sk = skeleton.view();
  int bridges = 0;
  for (int y = 1; y <= sk.height - 2; ++y) {
    for (int x = 1; x <= sk.width - 2; ++x) {
      if (!IsRidge(sk, x, y) || !Foreground(direction, x, y)) continue;
      if (ReferenceCrossingNumber(sk, x, y) != 1) continue;
      const RidgeTrace own = TraceRidge(sk, x, y, 10);
      std::optional<PixelPoint> partner;
      if (own.steps > 3) {
        partner =
            ReferenceFacingEnding(sk, x, y, LineAngle(x, y, own.x, own.y), kBridgeSearchRadius);
      }
      RestoreRidge(sk, own);
      if (partner) {
        StepLine(x, y, partner->x, partner->y, [&](int px, int py) { sk[py][px] = 0; });
        ++bridges;
      }
    }
  }
  return bridges;
}

void ReferenceClean(TestImage& skeleton, const TestImage& direction) {
  const ImageView sk = skeleton.view();
  for (int y = 1; y <= sk.height - 2; ++y) {
    for (int x = 1; x <= sk.width - 2; ++x) {
      if (!IsRidge(sk, x, y) || !Foreground(direction, x, y)) continue;
      if (ReferenceCrossingNumber(sk, x, y) != 3) continue;
      CleanBifurcation(sk, x, y, kShortBranchLength, kJunctionBridgeLength);
    }
  }
}

// The variation as first written: the pixels without a direction skipped by a branch.
int ReferenceVariation(const TestImage& direction, int y, int x, int radius) {
  const int centre = direction.get()[y][x] & kCodeMask;
  if (centre == kNoDirection) return 0;
  int sum = 0, count = 0;
  for (int j = std::max(0, y - radius); j <= std::min(direction.height() - 1, y + radius); ++j) {
    for (int k = std::max(0, x - radius); k <= std::min(direction.width() - 1, x + radius); ++k) {
      const int code = direction.get()[j][k] & kCodeMask;
      if (code == kNoDirection) continue;
      sum += CodeDistance(code, centre);
      ++count;
    }
  }
  return sum * 255 / (count * 60);
}

TEST(DirectionVariation, SameAsTheBranchingSumOnEveryCodeAndClippedWindow) {
  std::mt19937 rng(4);
  for (int trial = 0; trial < 8; ++trial) {
    const int w = 1 + static_cast<int>(rng() % 50), h = 1 + static_cast<int>(rng() % 40);
    // Every byte value: codes 0..119, the reserved 120..127, and the background bit on any.
    TestImage direction(w, h, [&](int, int) {
      return static_cast<uint8_t>(trial % 2 == 0 ? rng() : (rng() % 4 == 0 ? 127 : rng() % 120));
    });
    for (int radius : {0, 1, 10, 60}) {
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(DirectionVariation(w, h, direction.get(), y, x, radius),
                    ReferenceVariation(direction, y, x, radius))
              << w << "x" << h << " at " << x << "," << y << " radius " << radius;
        }
      }
    }
  }
}

void ReferenceDetect(TestImage& skeleton, const TestImage& direction, ExtractionResult* r) {
  const ImageView sk = skeleton.view();
  const int w = sk.width, h = sk.height;
  r->CandidateCount = 0;
  for (int y = 2; y <= h - 3; ++y) {
    for (int x = 2; x <= w - 3; ++x) {
      if (!Foreground(direction, x, y) || !IsRidge(sk, x, y)) continue;
      const int crossing = ReferenceCrossingNumber(sk, x, y);
      if (crossing != 1 && crossing != 3) continue;
      if (r->CandidateCount >= kFeatureCapacity || x <= 6 || x >= w - 6 || y <= 6 || y >= h - 6) {
        continue;
      }
      const int n = r->CandidateCount++;
      r->CandX[n] = static_cast<int16_t>(x);
      r->CandY[n] = static_cast<int16_t>(y);
      r->CandAngle[n] = static_cast<int16_t>(
          crossing == 1 ? EndingDirection(sk, y, x, kMinutiaTraceLength, kMinEndingTrace)
                        : BifurcationDirection(sk, y, x, kMinutiaTraceLength, kMinBranchTrace));
      r->CandType[n] = crossing == 1 ? 0 : 1;
      r->CandVariation[n] =
          static_cast<uint8_t>(DirectionVariation(w, h, direction.get(), y, x, kVariationRadius));
    }
  }
}

std::unique_ptr<TestImage> Copy(const TestImage& image) {
  return std::make_unique<TestImage>(image.width(), image.height(),
                                     [&](int x, int y) { return image.get()[y][x]; });
}

void ExpectSameImage(const TestImage& got, const TestImage& want, const std::string& what) {
  for (int y = 0; y < want.height(); ++y)
    for (int x = 0; x < want.width(); ++x)
      ASSERT_EQ(got.get()[y][x], want.get()[y][x]) << what << " at " << x << "," << y;
}

// Runs the three skeleton stages and their references in pipeline order on copies of one
// skeleton; every image and candidate must agree.
void ExpectStagesMatch(const TestImage& skeleton, const TestImage& direction,
                       const std::string& what) {
  const int w = skeleton.width(), h = skeleton.height();
  auto fast = Copy(skeleton);
  auto plain = Copy(skeleton);
  ASSERT_EQ(BridgeRidgeGaps(w, h, fast->get(), direction.get(), kBridgeSearchRadius),
            ReferenceBridge(*plain, direction))
      << what;
  ExpectSameImage(*fast, *plain, what + ", bridged");
  CleanBifurcations(w, h, fast->get(), direction.get(), kShortBranchLength, kJunctionBridgeLength);
  ReferenceClean(*plain, direction);
  ExpectSameImage(*fast, *plain, what + ", cleaned");
  auto got = std::make_unique<ExtractionResult>();
  auto want = std::make_unique<ExtractionResult>();
  DetectMinutiae(w, h, fast->get(), direction.get(), got.get(), kMinutiaTraceLength,
                 kMinEndingTrace, kMinBranchTrace, kVariationRadius);
  ReferenceDetect(*plain, direction, want.get());
  ExpectSameImage(*fast, *plain, what + ", after detection");
  ASSERT_EQ(got->CandidateCount, want->CandidateCount) << what;
  for (int i = 0; i < want->CandidateCount; ++i) {
    ASSERT_EQ(got->CandX[i], want->CandX[i]) << what << " candidate " << i;
    ASSERT_EQ(got->CandY[i], want->CandY[i]) << what << " candidate " << i;
    ASSERT_EQ(got->CandAngle[i], want->CandAngle[i]) << what << " candidate " << i;
    ASSERT_EQ(got->CandType[i], want->CandType[i]) << what << " candidate " << i;
    ASSERT_EQ(got->CandVariation[i], want->CandVariation[i]) << what << " candidate " << i;
  }
}

TEST(SkeletonScans, MatchThePixelSweepOnRandomSkeletons) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 24; ++trial) {
    const int w = 9 + static_cast<int>(rng() % 140), h = 9 + static_cast<int>(rng() % 90);
    // Thick random strokes thinned into real skeletons: endings, junctions, loops and gaps.
    TestImage skeleton(w, h, 255);
    for (int stroke = 0; stroke < 3 + trial % 9; ++stroke) {
      int x = static_cast<int>(rng() % static_cast<unsigned>(w));
      int y = static_cast<int>(rng() % static_cast<unsigned>(h));
      const int dx = static_cast<int>(rng() % 5) - 2, dy = static_cast<int>(rng() % 5) - 2;
      for (int step = 0; step < 40; ++step, x += dx, y += dy) {
        for (int j = y - 1; j <= y + 1; ++j)
          for (int i = x - 1; i <= x + 1; ++i)
            if (i >= 0 && i < w && j >= 0 && j < h && rng() % 8 != 0) skeleton.at(i, j) = 0;
      }
    }
    ASSERT_GE(ThinRidges(w, h, skeleton.get()), 1);
    if (trial % 4 == 3) {  // plus scattered single pixels and short dashes
      for (int n = 0; n < w * h / 30; ++n) {
        skeleton.at(static_cast<int>(rng() % static_cast<unsigned>(w)),
                    static_cast<int>(rng() % static_cast<unsigned>(h))) = 0;
      }
    }
    // Codes of every value, some of them background, in patches.
    TestImage direction(w, h, [&](int x, int y) {
      const unsigned patch = static_cast<unsigned>((x / 7) * 31 + (y / 5) * 17 + trial);
      const uint8_t code = static_cast<uint8_t>((patch * 37u + static_cast<unsigned>(x)) % 121u);
      return static_cast<uint8_t>((code == 120 ? kNoDirection : code) |
                                  (patch % 6 == 0 ? kBackgroundBit : 0));
    });
    ExpectStagesMatch(skeleton, direction, "trial " + std::to_string(trial));
  }
}

TEST(SkeletonScans, MatchThePixelSweepOnTheGoldenSkeletons) {
  int cases = 0;
  if (testing::HaveGolden()) {
    for (const auto& entry : std::filesystem::directory_iterator(testing::GoldenDir() / "cases")) {
      auto skeleton = testing::ReadGoldenPgm(entry.path() / "22c_thinned_whitened.pgm");
      auto direction = testing::ReadGoldenPgm(entry.path() / "20f_direction_image.pgm");
      if (!skeleton || !direction) continue;
      ExpectStagesMatch(*skeleton, *direction, entry.path().filename().string());
      ++cases;
    }
  }
  if (cases == 0) GTEST_SKIP() << "no golden vectors";
}

}  // namespace
}  // namespace ridgeline
