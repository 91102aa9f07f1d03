// Sample acceptance and engine data export through the entry points, with a stand-in
// extraction so that each outcome of the extraction can be chosen.
#include "adapter/sample_acceptance.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapter/engine_context.h"
#include "adapter/entry_points.h"
#include "tests/support/attached_pipeline.h"
#include "tests/support/bir_builder.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::AttachedPipeline;
using testing::BirSpec;
using testing::BuildBir;
using testing::TraceCapture;

using Lines = std::vector<std::string>;

// What the stand-in extraction was given, and what it answers.
struct ExtractionCall {
  int calls = 0;
  int width = 0, height = 0, resolutionPercent = 0, budget = 0, type = 0;
  uint8_t firstPixel = 0;
  int result = 1;
};
ExtractionCall extraction;

int FakeExtract(EngineParams*, int32_t width, int32_t height, GrayImage image,
                int32_t resolutionPercent, FeatureSet* featureSet, FeatureSummary* summary,
                int32_t templateBudget, int32_t type) {
  ++extraction.calls;
  extraction.width = width;
  extraction.height = height;
  extraction.resolutionPercent = resolutionPercent;
  extraction.budget = templateBudget;
  extraction.type = type;
  extraction.firstPixel = image[0][0];
  featureSet->Count = 17;
  summary->Quality = 55;
  return extraction.result;
}

void* FailingAlloc(std::size_t) { return nullptr; }

const SampleAcceptanceHooks kFakeExtraction = {FakeExtract, std::malloc};
const SampleAcceptanceHooks kFailingCopy = {FakeExtract, FailingAlloc};

// A well-populated image: nine grey levels in stripes.
BirSpec Striped(int width = 40, int height = 30) {
  BirSpec spec;
  spec.width = width;
  spec.height = height;
  spec.pixel = [](int x, int y) { return static_cast<uint8_t>(((x + y) % 9) * 28); };
  return spec;
}

class SampleAcceptanceTest : public ::testing::Test {
 protected:
  void SetUp() override { extraction = ExtractionCall{}; }

  HRESULT Accept(std::vector<uint8_t>& bir, const SampleAcceptanceHooks& hooks = kFakeExtraction,
                 uint8_t purpose = 1) {
    return AcceptSample(pipeline_.get(), reinterpret_cast<PWINBIO_BIR>(bir.data()), bir.size(),
                        purpose, &reject_, hooks);
  }
  EngineContext* context() { return pipeline_.context(); }

  AttachedPipeline pipeline_;
  WINBIO_REJECT_DETAIL reject_ = 0;
};

TEST_F(SampleAcceptanceTest, AcceptedSampleBecomesCurrentWithItsRecordCopy) {
  BirSpec spec = Striped(300, 400);
  spec.vendorBytes = 12;  // after the standard data block: not kept
  std::vector<uint8_t> bir = BuildBir(spec);
  TraceCapture capture;
  ASSERT_EQ(Accept(bir), S_OK);
  EXPECT_EQ(extraction.calls, 1);
  EXPECT_EQ(extraction.width, 330);
  EXPECT_EQ(extraction.height, 440);
  EXPECT_EQ(extraction.resolutionPercent, 100);
  EXPECT_EQ(extraction.budget, 1024);
  EXPECT_EQ(extraction.type, 3);
  ASSERT_NE(context()->pFPData, nullptr);
  EXPECT_EQ(context()->pFPData->Count, 17);
  EXPECT_EQ(context()->pFPSummary->Quality, 55);
  ASSERT_NE(context()->pBirSampleLast, nullptr);
  ASSERT_EQ(KeptBirLength(context()->pBirSampleLast), bir.size() - 12);
  EXPECT_EQ(std::memcmp(context()->pBirSampleLast, bir.data(), bir.size() - 12), 0);
  EXPECT_EQ(reject_, 0u);
  EXPECT_EQ(capture.messages(),
            (Lines{"EngineAdapterAcceptSampleData\n", "_SecureClearBuffers\n",
                   "_SecureClearBuffers context->pFPDataTmp\n",
                   "_SecureClearBuffers context->pFPDataTmp2\n",
                   "EngineAdapterAcceptSampleData width=300, height=400\n",
                   "       SourceResolution=500, TargetResolution=550\n",
                   "EngineAdapterAcceptSampleData CheckImage...\n",
                   "EngineAdapterAcceptSampleData FeaturesExtractionEx...\n",
                   "EngineAdapterAcceptSampleData FeaturesExtractionEx successful\n",
                   "EngineAdapterAcceptSampleData free buf_img\n",
                   "EngineAdapterAcceptSampleData done hr = 0x0\n"}));
}

TEST_F(SampleAcceptanceTest, FailedExtractionLeavesNoSample) {
  std::vector<uint8_t> bir = BuildBir(Striped());
  ASSERT_EQ(Accept(bir), S_OK);
  ASSERT_NE(context()->pFPData, nullptr);
  extraction.result = 0;
  TraceCapture capture;
  EXPECT_EQ(Accept(bir), S_OK);
  EXPECT_EQ(context()->pFPData, nullptr);
  EXPECT_EQ(context()->pFPSummary, nullptr);
  EXPECT_EQ(context()->pBirSampleLast, nullptr);
  const Lines lines = capture.messages();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "EngineAdapterAcceptSampleData FeaturesExtractionEx successful\n"),
            0);
  EXPECT_EQ(lines.back(), "EngineAdapterAcceptSampleData done hr = 0x0\n");
}

TEST_F(SampleAcceptanceTest, DegenerateImageIsABadCaptureWithDetailTwelve) {
  BirSpec flat;
  flat.pixel = [](int, int) { return uint8_t{200}; };
  std::vector<uint8_t> bir = BuildBir(flat);
  TraceCapture capture;
  EXPECT_EQ(Accept(bir), WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(reject_, 12u);
  EXPECT_EQ(extraction.calls, 0);
  EXPECT_EQ(context()->pFPData, nullptr);
  const Lines lines = capture.messages();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 3], "EngineAdapterAcceptSampleData CheckImage failed\n");
  EXPECT_EQ(lines[lines.size() - 2], "EngineAdapterAcceptSampleData free buf_img\n");
  EXPECT_EQ(lines.back(), "EngineAdapterAcceptSampleData done hr = 0x80098008\n");
}

TEST_F(SampleAcceptanceTest, FormatErrorsInTheirOrderWithoutRejectDetail) {
  struct Case {
    BirSpec spec;
    HRESULT want;
    std::string trace;
  };
  BirSpec wrong_owner = Striped();
  wrong_owner.formatOwner = 26;
  wrong_owner.biometricType = 2;  // the format pair is checked first
  BirSpec wrong_format_type = Striped();
  wrong_format_type.formatType = 1024;
  BirSpec not_finger = Striped();
  not_finger.biometricType = 2;
  not_finger.compression = 1;  // the biometric type is checked before the compression
  BirSpec compressed = Striped();
  compressed.compression = 1;
  const Case cases[] = {
      {wrong_owner, E_INVALIDARG, "EngineAdapterAcceptSampleData image data format error\n"},
      {wrong_format_type, E_INVALIDARG, "EngineAdapterAcceptSampleData image data format error\n"},
      {not_finger, WINBIO_E_UNSUPPORTED_DATA_FORMAT,
       "EngineAdapterAcceptSampleData image type not supported\n"},
      {compressed, WINBIO_E_UNSUPPORTED_DATA_FORMAT,
       "EngineAdapterAcceptSampleData image compression not supported\n"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bir = BuildBir(c.spec);
    TraceCapture capture;
    EXPECT_EQ(Accept(bir), c.want);
    const Lines lines = capture.messages();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], c.trace);
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "EngineAdapterAcceptSampleData free buf_img\n"),
        0);  // no image was made
  }
  EXPECT_EQ(reject_, 0u);
  EXPECT_EQ(extraction.calls, 0);
}

TEST_F(SampleAcceptanceTest, TruncatedRecordIsRefusedAtEveryLength) {
  std::vector<uint8_t> good = BuildBir(Striped(12, 10));
  for (size_t length = 1; length < good.size(); ++length) {
    // An exact-size heap block: AddressSanitizer reports any read beyond it.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);
    std::memcpy(copy.get(), good.data(), length);
    TraceCapture capture;
    ASSERT_EQ(AcceptSample(pipeline_.get(), reinterpret_cast<PWINBIO_BIR>(copy.get()), length, 1,
                           &reject_, kFakeExtraction),
              E_INVALIDARG)
        << length;
    const Lines lines = capture.messages();
    ASSERT_EQ(lines[lines.size() - 2], "EngineAdapterAcceptSampleData invalid record\n");
  }
  EXPECT_EQ(extraction.calls, 0);
}

TEST_F(SampleAcceptanceTest, LyingRecordDropsThePreviousSample) {
  std::vector<uint8_t> bir = BuildBir(Striped());
  ASSERT_EQ(Accept(bir), S_OK);
  testing::PutU16(bir, testing::kTestBlockOffset + 46, 31);  // one row more than the block holds
  EXPECT_EQ(Accept(bir), E_INVALIDARG);
  EXPECT_EQ(context()->pFPData, nullptr);
  EXPECT_EQ(context()->pBirSampleLast, nullptr);
}

TEST_F(SampleAcceptanceTest, OversizedImageIsRefusedBeforeResampling) {
  // 3900 source columns give 4290 at the engine's resolution: past the fixed-point range.
  std::vector<uint8_t> bir = BuildBir(Striped(3900, 2));
  TraceCapture capture;
  EXPECT_EQ(Accept(bir), E_INVALIDARG);
  EXPECT_EQ(capture.messages()[capture.messages().size() - 2],
            "EngineAdapterAcceptSampleData image too large\n");
  EXPECT_EQ(extraction.calls, 0);
}

TEST_F(SampleAcceptanceTest, ExtractionSeesTheResampledSizes) {
  for (int side : {30, 31, 931, 932}) {
    std::vector<uint8_t> bir = BuildBir(Striped(side, 40));
    ASSERT_EQ(Accept(bir), S_OK) << side;
    EXPECT_EQ(extraction.width, side * 11 / 10) << side;
  }
  EXPECT_EQ(ResampledSide(31), 34);
  EXPECT_EQ(ResampledSide(931), 1024);
  EXPECT_EQ(ResampledSide(932), 1025);
  EXPECT_EQ(ResampledSide(9), 9);
}

TEST_F(SampleAcceptanceTest, FailedRecordCopyStoresNothing) {
  std::vector<uint8_t> bir = BuildBir(Striped());
  TraceCapture capture;
  EXPECT_EQ(Accept(bir, kFailingCopy), E_OUTOFMEMORY);
  EXPECT_EQ(context()->pFPData, nullptr);
  EXPECT_EQ(context()->pFPSummary, nullptr);
  EXPECT_EQ(context()->pBirSampleLast, nullptr);
  EXPECT_EQ(capture.messages().back(), "EngineAdapterAcceptSampleData done hr = 0x8007000e\n");
}

TEST_F(SampleAcceptanceTest, ArgumentChecks) {
  std::vector<uint8_t> bir = BuildBir(Striped());
  auto* record = reinterpret_cast<PWINBIO_BIR>(bir.data());
  TraceCapture capture;
  EXPECT_EQ(EngineAdapterAcceptSampleData(nullptr, record, bir.size(), 1, &reject_), E_POINTER);
  EXPECT_EQ(EngineAdapterAcceptSampleData(pipeline_.get(), nullptr, bir.size(), 1, &reject_),
            E_POINTER);
  EXPECT_EQ(EngineAdapterAcceptSampleData(pipeline_.get(), record, bir.size(), 1, nullptr),
            E_POINTER);
  EXPECT_EQ(
      capture.messages(),
      (Lines{"EngineAdapterAcceptSampleData\n", "EngineAdapterAcceptSampleData invalid parameter\n",
             "EngineAdapterAcceptSampleData done hr = 0x80004003\n",
             "EngineAdapterAcceptSampleData\n", "EngineAdapterAcceptSampleData invalid parameter\n",
             "EngineAdapterAcceptSampleData done hr = 0x80004003\n",
             "EngineAdapterAcceptSampleData\n", "EngineAdapterAcceptSampleData invalid parameter\n",
             "EngineAdapterAcceptSampleData done hr = 0x80004003\n"}));
  capture.clear();
  EXPECT_EQ(Accept(bir, kFakeExtraction, /*purpose=*/0), E_INVALIDARG);
  EXPECT_EQ(EngineAdapterAcceptSampleData(pipeline_.get(), record, 0, 1, &reject_), E_INVALIDARG);
  WINBIO_PIPELINE bare = testing::UnattachedPipeline();
  EXPECT_EQ(EngineAdapterAcceptSampleData(&bare, record, bir.size(), 1, &reject_), E_INVALIDARG);
  EXPECT_EQ(capture.messages()[1], "EngineAdapterAcceptSampleData invalid data\n");
}

TEST_F(SampleAcceptanceTest, EnrollmentSurvivesAnAcceptance) {
  auto* container = static_cast<uint8_t*>(std::calloc(1, 8));
  context()->Enrollment.Template = container;
  context()->Enrollment.TemplateSize = 8;
  std::vector<uint8_t> bir = BuildBir(Striped());
  ASSERT_EQ(Accept(bir), S_OK);
  EXPECT_EQ(context()->Enrollment.Template, container);
}

class ExportTest : public SampleAcceptanceTest {
 protected:
  void SetUp() override {
    SampleAcceptanceTest::SetUp();
    bir_ = BuildBir(Striped());
    ASSERT_EQ(Accept(bir_), S_OK);
  }
  HRESULT Export(uint8_t flags, std::vector<uint8_t>& out, SIZE_T* size) {
    return EngineAdapterExportEngineData(pipeline_.get(), flags,
                                         reinterpret_cast<PWINBIO_BIR*>(out.data()), size);
  }
  std::vector<uint8_t> bir_;
};

TEST_F(ExportTest, ProcessedFlagCopiesTheKeptRecord) {
  std::vector<uint8_t> out(bir_.size() + 5, 0xAB);
  SIZE_T size = out.size();
  TraceCapture capture;
  ASSERT_EQ(Export(0x80, out, &size), S_OK);
  EXPECT_EQ(size, out.size());  // unchanged on success
  EXPECT_EQ(std::memcmp(out.data(), bir_.data(), bir_.size()), 0);
  EXPECT_EQ(out[bir_.size()], 0xAB);
  EXPECT_EQ(capture.messages().back(), "EngineAdapterExportEngineData done (0x0)\n");
  for (uint8_t flags : {0x20, 0x40, 0x24, 0xC0}) {
    EXPECT_EQ(Export(flags, out, &size), S_OK) << int{flags};
  }
}

TEST_F(ExportTest, FlagRules) {
  std::vector<uint8_t> out(bir_.size(), 0);
  SIZE_T size = out.size();
  for (uint8_t flags : {0x22, 0x21, 0x02, 0x01, 0x00, 0x04, 0x23}) {
    EXPECT_EQ(Export(flags, out, &size), E_INVALIDARG) << int{flags};
  }
  EXPECT_EQ(out[0], 0);                       // nothing copied
  EXPECT_EQ(Export(0x42, out, &size), S_OK);  // privacy is refused only with raw data
}

TEST_F(ExportTest, TooSmallCapacityReportsTheNeededSize) {
  std::vector<uint8_t> out(bir_.size() - 1, 0);
  SIZE_T size = out.size();
  TraceCapture capture;
  EXPECT_EQ(Export(0x80, out, &size), E_INVALIDARG);
  EXPECT_EQ(size, bir_.size());
  EXPECT_EQ(capture.messages()[1],
            "EngineAdapterExportEngineData buffer too small - must be at least " +
                std::to_string(bir_.size()) + "\n");
  EXPECT_EQ(out[0], 0);
}

TEST_F(ExportTest, NothingToExport) {
  std::vector<uint8_t> out(bir_.size(), 0);
  SIZE_T size = out.size();
  extraction.result = 0;
  ASSERT_EQ(Accept(bir_), S_OK);
  TraceCapture capture;
  EXPECT_EQ(Export(0x80, out, &size), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(capture.messages()[1], "EngineAdapterExportEngineData No previous data\n");
  WINBIO_PIPELINE bare = testing::UnattachedPipeline();
  EXPECT_EQ(
      EngineAdapterExportEngineData(&bare, 0x80, reinterpret_cast<PWINBIO_BIR*>(out.data()), &size),
      WINBIO_E_INVALID_DEVICE_STATE);
  capture.clear();
  EXPECT_EQ(EngineAdapterExportEngineData(pipeline_.get(), 0x80, nullptr, &size), E_POINTER);
  EXPECT_EQ(Export(0x80, out, nullptr), E_POINTER);
  EXPECT_EQ(capture.messages()[1], "EA_ED_2 EngineAdapterExportEngineData NULL values\n");
  EXPECT_EQ(capture.messages()[2], "EngineAdapterExportEngineData done (0x80004003)\n");
}

}  // namespace
}  // namespace ridgeline
