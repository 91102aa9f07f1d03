#include "adapter/secure_clear.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/attached_pipeline.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::AttachedPipeline;
using testing::TraceCapture;

// What WipeAndFree showed of each block just before releasing it.
struct ReleasedBlock {
  const void* address;
  size_t bytes;
  bool all_zero;
};

class ReleaseLog {
 public:
  ReleaseLog() { SetReleaseObserver(&Observe, this); }
  ~ReleaseLog() { SetReleaseObserver(nullptr, nullptr); }
  const std::vector<ReleasedBlock>& blocks() const { return blocks_; }

 private:
  static void Observe(void* user, const void* block, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(block);
    static_cast<ReleaseLog*>(user)->blocks_.push_back(
        {block, bytes, std::all_of(p, p + bytes, [](uint8_t b) { return b == 0; })});
  }
  std::vector<ReleasedBlock> blocks_;
};

uint8_t* FilledBlock(size_t bytes, uint8_t fill) {
  auto* block = static_cast<uint8_t*>(std::malloc(bytes));
  std::memset(block, fill, bytes);
  return block;
}

// A kept BIR copy of exactly Offset + Size bytes, with its descriptor little-endian.
uint8_t* KeptBir(uint32_t offset, uint32_t size) {
  uint8_t* bir = FilledBlock(offset + size, 0x77);
  const uint8_t descriptor[8] = {
      static_cast<uint8_t>(size),         static_cast<uint8_t>(size >> 8),
      static_cast<uint8_t>(size >> 16),   static_cast<uint8_t>(size >> 24),
      static_cast<uint8_t>(offset),       static_cast<uint8_t>(offset >> 8),
      static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 24)};
  std::memcpy(bir + 8, descriptor, sizeof(descriptor));
  return bir;
}

// Gives the context a current sample, a kept BIR and an enrollment container.
void FillContext(EngineContext* context) {
  ASSERT_TRUE(AllocFeatureRecords(&context->pFPData, &context->pFPSummary));
  context->pFPData->Count = 3;
  context->pFPData->X[0] = 17;
  context->pBirSampleLast = KeptBir(80, 300);
  context->Enrollment.TemplateSize = 50;
  context->Enrollment.Template = FilledBlock(50, 0xE5);
  context->Enrollment.Count = 1;
  context->Enrollment.InProgress = 1;
}

TEST(SecureClearBuffers, KeepEnrollmentDropsTheSampleAndKeepsTheContainer) {
  AttachedPipeline unit;
  EngineContext* context = unit.context();
  FillContext(context);
  uint8_t* container = context->Enrollment.Template;
  ReleaseLog released;
  TraceCapture capture;
  _SecureClearBuffers(context, true);

  EXPECT_EQ(capture.messages(), (std::vector<std::string>{
                                    "_SecureClearBuffers\n",
                                    "_SecureClearBuffers context->pFPData\n",
                                    "_SecureClearBuffers context->pFPDataTmp\n",
                                    "_SecureClearBuffers context->pFPDataTmp2\n",
                                    "_SecureClearBuffers context->pBirSampleLast\n",
                                }));
  EXPECT_EQ(context->pFPData, nullptr);
  EXPECT_EQ(context->pFPSummary, nullptr);
  EXPECT_EQ(context->pFPDataTmp, nullptr);
  EXPECT_EQ(context->pFPSummaryTmp, nullptr);
  EXPECT_EQ(context->pFPDataTmp2, nullptr);
  EXPECT_EQ(context->pFPSummaryTmp2, nullptr);
  EXPECT_EQ(context->pBirSampleLast, nullptr);
  // The BIR copy was wiped over the length its own descriptor gives.
  ASSERT_EQ(released.blocks().size(), 1u);
  EXPECT_EQ(released.blocks()[0].bytes, 380u);
  EXPECT_TRUE(released.blocks()[0].all_zero);
  // The enrollment is untouched.
  ASSERT_EQ(context->Enrollment.Template, container);
  EXPECT_EQ(context->Enrollment.TemplateSize, 50u);
  EXPECT_TRUE(std::all_of(container, container + 50, [](uint8_t b) { return b == 0xE5; }));
  EXPECT_EQ(context->Enrollment.Count, 1u);
  EXPECT_EQ(context->Enrollment.InProgress, 1u);
}

TEST(SecureClearBuffers, WithoutKeepEnrollmentTheContainerIsWipedAndReleased) {
  AttachedPipeline unit;
  EngineContext* context = unit.context();
  FillContext(context);
  const void* container = context->Enrollment.Template;
  MatchWork* work = context->MatchWork;
  ReleaseLog released;
  TraceCapture capture;
  _SecureClearBuffers(context, false);

  EXPECT_EQ(capture.messages().back(), "_SecureClearBuffers context->Enrollment.Template\n");
  EXPECT_EQ(context->Enrollment.Template, nullptr);
  EXPECT_EQ(context->Enrollment.TemplateSize, 0u);
  ASSERT_EQ(released.blocks().size(), 2u);
  EXPECT_EQ(released.blocks()[1].address, container);
  EXPECT_EQ(released.blocks()[1].bytes, 50u);
  EXPECT_TRUE(released.blocks()[1].all_zero);
  // The enrollment state and the matcher are not the wipe's business.
  EXPECT_EQ(context->Enrollment.Count, 1u);
  EXPECT_EQ(context->Enrollment.InProgress, 1u);
  EXPECT_EQ(context->MatchWork, work);
  EXPECT_EQ(context->TemplateCapacity, 1024u);
}

TEST(SecureClearBuffers, EmptyContextTracesOnlyItsName) {
  AttachedPipeline unit;
  EngineContext* context = unit.context();
  _SecureClearBuffers(context, false);
  TraceCapture capture;
  _SecureClearBuffers(context, false);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"_SecureClearBuffers\n"});
}

TEST(SecureClearBuffers, FeatureRecordsAreWipedOverTheirWholeCapacity) {
  FeatureSet* features = nullptr;
  FeatureSummary* summary = nullptr;
  ASSERT_TRUE(AllocFeatureRecords(&features, &summary));
  // Count says 2, but stale entries beyond it must go too.
  features->Count = 2;
  for (int i = 0; i < kFeatureCapacity; ++i) {
    features->X[i] = features->Y[i] = features->Angle[i] = static_cast<int16_t>(i + 1);
    features->Variation[i] = features->Type[i] = 0xFF;
  }
  features->BlockCols = 30;
  features->BlockRows = 40;
  std::memset(features->DirectionMap, 0x3C, sizeof(features->DirectionMap));
  std::memset(summary, 0x99, sizeof(*summary));
  int16_t* x = features->X;

  WipeFeatureRecords(features, summary);
  EXPECT_EQ(features->X, x);  // arrays stay in place for the release
  for (int i = 0; i < kFeatureCapacity; ++i) {
    ASSERT_EQ(features->X[i] | features->Y[i] | features->Angle[i] | features->Variation[i] |
                  features->Type[i],
              0)
        << i;
  }
  EXPECT_EQ(features->Count, 0);
  EXPECT_EQ(features->BlockCols | features->BlockRows, 0);
  const auto* map = &features->DirectionMap[0][0];
  EXPECT_TRUE(std::all_of(map, map + kMapSize * kMapSize, [](uint8_t b) { return b == 0; }));
  const auto* s = reinterpret_cast<const uint8_t*>(summary);
  EXPECT_TRUE(std::all_of(s, s + sizeof(*summary), [](uint8_t b) { return b == 0; }));

  _SecureClearFeaturePair(&features, &summary);
  EXPECT_EQ(features, nullptr);
  EXPECT_EQ(summary, nullptr);
}

TEST(KeptBirLength, IsOffsetPlusSizeOfTheStandardBlockWithoutWrap) {
  // Only the descriptors are read: Size at byte 8, Offset at byte 12, little-endian.
  uint8_t bir[16] = {};
  const uint8_t descriptor[8] = {0xC0, 0xB0, 0xA0, 0x00, 0x04, 0x03, 0x02, 0x01};
  std::memcpy(bir + 8, descriptor, sizeof(descriptor));
  EXPECT_EQ(KeptBirLength(bir), 0x01020304u + 0x00A0B0C0u);
  std::memset(bir + 8, 0xFF, 8);
  EXPECT_EQ(KeptBirLength(bir), 2 * size_t{0xFFFFFFFF});
}

}  // namespace
}  // namespace ridgeline
